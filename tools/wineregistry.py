"""Registry and profile text: the keys Windows keeps [boot], UAC's policy
and RunOnce under, a registry to import, and the entries of a profile file.
Text only: nothing here runs Wine.
"""

import re

SYSTEM_INI = r"C:\windows\system.ini"
SETUP_KEY = "DorvanixSetupDir "

# Where the Windows NT family keeps [boot] of system.ini: the mapping names a
# registry key for each entry, Winlogon's own value for the shell.
NT = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion"
MAPPING = NT + r"\IniFileMapping\system.ini"
WINLOGON = NT + r"\Winlogon"
WOW_BOOT = NT + r"\WOW\boot"
# UAC's policy, what Windows starts once at its next start, and the list of
# installed programs.
CURRENT = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion"
POLICIES = CURRENT + r"\Policies\System"
RUNONCE = CURRENT + r"\RunOnce"
UNINSTALL = CURRENT + r"\Uninstall"
MAPPED_ROOTS = {"SYS:": r"HKEY_LOCAL_MACHINE\Software",
                "USR:": r"HKEY_CURRENT_USER\Software"}


def in_32bit_view(key: str) -> str:
    """The key as 64-bit Windows shows 32-bit programs its HKLM\\Software."""
    return key.replace(r"\Software", r"\Software\Wow6432Node", 1)


def boot_registry(layout: str, shell=None, setup_dir=None,
                  enable_lua: int | None = 0, version: str | None = None
                  ) -> str:
    """The registry of a Windows to import, with [boot] armed there, UAC's
    EnableLUA (None: the value is missing), nothing in RunOnce, and the
    version Wine reports (such as "winxp"; None: its default, Windows 7).
    Layout "9x": no mapping, [boot] lives in the file, and Winlogon's Shell
    is Explorer. "nt": the stock mapping, which sends `shell` to Winlogon's
    value and leaves the other entries in the file. "nt-wow": the mapping
    with a default, which sends them to WOW\\boot."""
    def text(value):
        return '"' + value.replace("\\", "\\\\").replace('"', '\\"') + '"'

    def mapped(key):  # how the mapping names a key of HKLM\Software
        return text("SYS:" + key.split("\\Software\\", 1)[1])

    nt = layout != "9x"
    lua = "-" if enable_lua is None else f"dword:{enable_lua:08x}"
    lines = ["Windows Registry Editor Version 5.00", f"[-{MAPPING}]",
             f"[-{WOW_BOOT}]", f"[-{RUNONCE}]", f"[{POLICIES}]",
             f'"EnableLUA"={lua}', r"[HKEY_CURRENT_USER\Software\Wine]",
             '"Version"=' + (text(version) if version else "-"),
             f"[{WINLOGON}]",
             '"Shell"=' + text(shell if nt and shell else "explorer.exe")]
    if nt:
        lines += [f"[{MAPPING}\\boot]", '"Shell"=' + mapped(WINLOGON)]
    if layout == "nt-wow":
        lines.append("@=" + mapped(WOW_BOOT))
        if setup_dir is not None:
            lines += [f"[{WOW_BOOT}]", text(SETUP_KEY) + "=" + text(setup_dir)]
    return "\r\n".join(lines) + "\r\n"


REG_VALUE = re.compile(r'^(@|"((?:[^"\\]|\\.)*)")="((?:[^"\\]|\\.)*)"$')


def exported(text: str) -> dict[str, dict[str, str]]:
    """The string values of each key `reg export` wrote, by key and value
    name in lower case ("" for a key's default)."""
    def unescape(quoted):
        return re.sub(r"\\(.)", r"\1", quoted)
    keys, values = {}, {}
    for line in text.splitlines():
        if line.startswith("["):
            values = keys.setdefault(line.strip("[]").lower(), {})
        elif m := REG_VALUE.match(line):
            values["" if m[1] == "@" else unescape(m[2]).lower()] = \
                unescape(m[3])
    return keys


def entries(profile: bytes, encoding="latin-1"):
    """(section, key, value) of each entry, and other lines as they are;
    by default a character for each byte."""
    result, section = [], None
    for line in profile.decode(encoding, "replace").splitlines():
        text = line.strip()
        if not text:
            continue
        if text.startswith("["):
            section = text.lower()
            result.append((section, None, text))
        elif "=" in text and not text.startswith(";"):
            key, value = text.split("=", 1)
            result.append((section, key.strip().lower(), value.strip()))
        else:
            result.append((section, None, text))
    return result


def ini_entry(profile: bytes, section: str, key: str,
              encoding="latin-1") -> str | None:
    """An entry of a profile file, matched as Windows' profile service
    matches it: without regard to case or to blanks around the names."""
    wanted = (f"[{section.lower()}]", key.strip().lower())
    return next((value for *place, value in entries(profile, encoding)
                 if tuple(place) == wanted), None)
