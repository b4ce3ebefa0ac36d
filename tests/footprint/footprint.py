#!/usr/bin/python3
"""Checks what a built handback.exe carries: its size, machine, the GUI
subsystem, imports (delay-loaded ones too) from Windows' own DLLs only, a
manifest that asks for no elevation, and a version resource with the
project's version. Needs Debian's python3-pefile. An example program
(--example) is checked for the same but the two resources, which it needs
not carry. handback-check.dll (--dll) is checked for its size, machine,
imports from KERNEL32, ADVAPI32 and msvcrt only, and one export,
HandBackCheck, undecorated; handback-check.exe (--console) for its size,
machine, the console subsystem, the DLL's imports and the manifest.

usage: footprint.py EXE --machine i386|amd64
                    (--version X.Y.Z | --example | --dll | --console)
                    --max-bytes N
"""
import argparse
import os
import sys
import xml.etree.ElementTree as ElementTree

import pefile

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "advapi32.dll",
                "msvcrt.dll"}
# What the check needs: files, security and the process token.
DLL_ALLOWED_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}
DLL_EXPORTS = [b"HandBackCheck"]
IMAGE_FILE_DLL = 0x2000
MACHINES = {"i386": 0x014C, "amd64": 0x8664}
SUBSYSTEM_GUI = 2
SUBSYSTEM_CONSOLE = 3
RT_MANIFEST = pefile.RESOURCE_TYPE["RT_MANIFEST"]
# The manifest Windows reads when it starts an executable.
PROCESS_MANIFEST_ID = 1


def manifest(pe):
    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    kinds = [kind for kind in resources.entries if kind.id == RT_MANIFEST] if resources else []
    for kind in kinds:
        for name in kind.directory.entries:
            if name.id == PROCESS_MANIFEST_ID:
                data = name.directory.entries[0].data.struct
                return pe.get_data(data.OffsetToData, data.Size)
    return None


def check_manifest(text, failures):
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        failures.append("manifest is not well-formed XML: %s" % error)
        return
    levels = [e for e in root.iter() if e.tag.endswith("}requestedExecutionLevel")]
    if len(levels) != 1:
        failures.append("manifest has %d requestedExecutionLevel elements, not 1" % len(levels))
        return
    for attribute, expected in (("level", "asInvoker"), ("uiAccess", "false")):
        if levels[0].get(attribute) != expected:
            failures.append("manifest has %s %r, not %r" % (attribute, levels[0].get(attribute), expected))


def check_version(pe, version, failures):
    fixed = getattr(pe, "VS_FIXEDFILEINFO", [None])[0]
    if fixed is None or fixed.Signature != 0xFEEF04BD:
        failures.append("version resource has no VS_FIXEDFILEINFO")
        return
    numbers = ([int(part) for part in version.split(".")] + [0, 0, 0])[:4]
    for name in ("File", "Product"):
        ms, ls = getattr(fixed, name + "VersionMS"), getattr(fixed, name + "VersionLS")
        found = [ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF]
        if found != numbers:
            failures.append("%s version is %s, not %s" % (name.lower(), ".".join(map(str, found)), version))
    strings = {}
    for infos in getattr(pe, "FileInfo", []):
        for info in infos:
            for table in getattr(info, "StringTable", []):
                strings.update((k.decode(), v.decode()) for k, v in table.entries.items())
    for key in ("ProductName", "FileDescription"):
        if not strings.get(key):
            failures.append("version resource has no %s" % key)
    for key in ("FileVersion", "ProductVersion"):
        if strings.get(key) != version:
            failures.append("version resource's %s is %r, not %r" % (key, strings.get(key), version))


def check_resources(pe, version, failures):
    text = manifest(pe)
    if text is None:
        failures.append("no manifest (RT_MANIFEST %d)" % PROCESS_MANIFEST_ID)
    else:
        check_manifest(text, failures)
    if not hasattr(pe, "VS_VERSIONINFO"):
        failures.append("no version resource (RT_VERSION)")
    else:
        check_version(pe, version, failures)


def check_dll(pe, failures):
    """A DLL whose only export is HandBackCheck, undecorated (an x86 stdcall
    name would otherwise end in @24)."""
    if not pe.FILE_HEADER.Characteristics & IMAGE_FILE_DLL:
        failures.append("not a DLL")
    exports = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    names = [symbol.name for symbol in exports.symbols] if exports else []
    if names != DLL_EXPORTS:
        failures.append("exports %r, not %r" % (names, DLL_EXPORTS))
    dlls = [entry.dll.decode() for table in ("DIRECTORY_ENTRY_IMPORT",
                                             "DIRECTORY_ENTRY_DELAY_IMPORT")
            for entry in getattr(pe, table, [])]
    failures += ["imports %s, not one of KERNEL32, ADVAPI32 and msvcrt" % dll
                 for dll in dlls if dll.lower() not in DLL_ALLOWED_DLLS]
    return dlls, names


def check(path, machine, version, max_bytes, dll=False, console=False):
    failures = []
    size = os.path.getsize(path)
    if size > max_bytes:
        failures.append("%d bytes, more than %d" % (size, max_bytes))
    pe = pefile.PE(path)
    if pe.FILE_HEADER.Machine != MACHINES[machine]:
        failures.append("machine 0x%x, not %s" % (pe.FILE_HEADER.Machine, machine))
    if dll:
        dlls, names = check_dll(pe, failures)
        print("%s: %d bytes, %s, exports %s, imports %s"
              % (path, size, machine, b", ".join(names).decode(),
                 ", ".join(dlls)))
        return failures
    subsystem = pe.OPTIONAL_HEADER.Subsystem
    wanted = SUBSYSTEM_CONSOLE if console else SUBSYSTEM_GUI
    if subsystem != wanted:
        failures.append("subsystem %d, not %s (%d)" % (
            subsystem, "console" if console else "Windows GUI", wanted))
    dlls = [entry.dll.decode() for table in ("DIRECTORY_ENTRY_IMPORT", "DIRECTORY_ENTRY_DELAY_IMPORT")
            for entry in getattr(pe, table, [])]
    if console:
        failures += ["imports %s, not one of KERNEL32, ADVAPI32 and msvcrt" % dll
                     for dll in dlls if dll.lower() not in DLL_ALLOWED_DLLS]
        text = manifest(pe)
        if text is None:
            failures.append("no manifest (RT_MANIFEST %d)" % PROCESS_MANIFEST_ID)
        else:
            check_manifest(text, failures)
    else:
        failures += ["imports %s, not one of KERNEL32, USER32, SHELL32, ADVAPI32 and msvcrt" % dll
                     for dll in dlls if dll.lower() not in ALLOWED_DLLS]
    if version is not None:
        check_resources(pe, version, failures)
    print("%s: %d bytes, %s, subsystem %d, imports %s" % (path, size, machine, subsystem, ", ".join(dlls)))
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    kind = parser.add_mutually_exclusive_group(required=True)
    kind.add_argument("--version")
    kind.add_argument("--example", action="store_true")
    kind.add_argument("--dll", action="store_true")
    kind.add_argument("--console", action="store_true")
    parser.add_argument("--max-bytes", type=int, required=True)
    arguments = parser.parse_args()
    try:
        failures = check(arguments.exe, arguments.machine, arguments.version,
                         arguments.max_bytes, arguments.dll,
                         arguments.console)
    except (OSError, pefile.PEFormatError) as error:
        failures = ["cannot be read as a PE file: %s" % error]
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print("footprint ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
