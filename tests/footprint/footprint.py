#!/usr/bin/env python3
"""Checks what a built handback.exe carries: GUI subsystem, only Windows' own
DLLs, a manifest that asks for no elevation, a version resource with the
project's version, and a size limit. Reads the PE file itself, so it needs
nothing but Python.

usage: footprint.py EXE --machine i386|amd64 --version X.Y.Z --max-bytes N
"""
import argparse
import struct
import sys
import xml.etree.ElementTree as ElementTree

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "msvcrt.dll"}
MACHINES = {"i386": 0x014C, "amd64": 0x8664}
SUBSYSTEM_GUI = 2
RT_VERSION = 16
RT_MANIFEST = 24
# The manifest Windows reads when it starts an executable.
PROCESS_MANIFEST_ID = 1
DIRECTORY_IMPORT = 1
DIRECTORY_RESOURCE = 2
DIRECTORY_DELAY_IMPORT = 13


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe : pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from(
            "<HHIIIHH", data, pe + 4
        )
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic not in (0x10B, 0x20B):
            raise ValueError("unknown optional header 0x%x" % magic)
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [
            struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)
        ]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, vsize, rva, raw_size, raw = struct.unpack_from(
                "<8sIIII", data, table + 40 * i
            )
            self.sections.append((rva, max(vsize, raw_size), raw))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("address 0x%x is in no section" % rva)

    def directory(self, index):
        if index >= len(self.directories):
            return 0, 0
        return self.directories[index]

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start : self.data.index(b"\0", start)].decode("latin-1")

    def imported_dlls(self):
        names = []
        # Import descriptors are 20 bytes, name at 12; delay-load ones 32,
        # name at 4. Both tables end with an all-zero entry.
        for index, size, name_at in (
            (DIRECTORY_IMPORT, 20, 12),
            (DIRECTORY_DELAY_IMPORT, 32, 4),
        ):
            rva, _ = self.directory(index)
            if rva == 0:
                continue
            entry = self.offset(rva)
            while any(self.data[entry : entry + size]):
                names.append(self.text(struct.unpack_from("<I", self.data, entry + name_at)[0]))
                entry += size
        return names

    def resources(self):
        """Maps (type, id) to the bytes of each resource, ids numeric or text."""
        rva, _ = self.directory(DIRECTORY_RESOURCE)
        found = {}
        if rva == 0:
            return found
        base = self.offset(rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                if name & 0x80000000:
                    at = base + (name & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    name = self.data[at + 2 : at + 2 + 2 * length].decode("utf-16-le")
                yield name, target

        for kind, types in entries(0):
            for name, names in entries(types & 0x7FFFFFFF):
                for _, data_entry in entries(names & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from("<II", self.data, base + data_entry)
                    start = self.offset(data_rva)
                    found[(kind, name)] = self.data[start : start + size]
        return found


def version_strings(block):
    """The fixed file version and the string values of a VS_VERSIONINFO."""
    strings = {}
    fixed = None

    def walk(at, end, depth):
        nonlocal fixed
        while at + 6 <= end:
            length, value_length, is_text = struct.unpack_from("<HHH", block, at)
            if length == 0:
                break
            key_end = at + 6
            while block[key_end : key_end + 2] != b"\0\0":
                key_end += 2
            key = block[at + 6 : key_end].decode("utf-16-le")
            value = (key_end + 2 + 3) & ~3
            value_size = value_length * 2 if is_text else value_length
            if depth == 0:
                fixed = block[value : value + value_size]
            elif is_text and value_length:
                strings[key] = block[value : value + value_size].decode("utf-16-le").rstrip("\0")
            children = (value + value_size + 3) & ~3
            walk(children, at + length, depth + 1)
            at = (at + length + 3) & ~3

    walk(0, len(block), 0)
    return fixed, strings


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
    level = levels[0].get("level")
    ui_access = levels[0].get("uiAccess")
    if level != "asInvoker":
        failures.append("manifest asks for execution level %r, not 'asInvoker'" % level)
    if ui_access != "false":
        failures.append("manifest has uiAccess %r, not 'false'" % ui_access)


def check_version(block, version, failures):
    fixed, strings = version_strings(block)
    if fixed is None or len(fixed) < 52 or struct.unpack_from("<I", fixed)[0] != 0xFEEF04BD:
        failures.append("version resource has no VS_FIXEDFILEINFO")
        return
    numbers = [int(part) for part in version.split(".")] + [0, 0, 0]
    expected = ((numbers[0] << 16) | numbers[1], (numbers[2] << 16) | numbers[3])
    for name, at in (("file", 8), ("product", 16)):
        found = struct.unpack_from("<II", fixed, at)
        if found != expected:
            failures.append(
                "%s version is %d.%d.%d.%d, not %s"
                % (name, found[0] >> 16, found[0] & 0xFFFF, found[1] >> 16, found[1] & 0xFFFF, version)
            )
    for key in ("ProductName", "FileDescription"):
        if not strings.get(key):
            failures.append("version resource has no %s" % key)
    for key in ("FileVersion", "ProductVersion"):
        if strings.get(key) != version:
            failures.append("version resource's %s is %r, not %r" % (key, strings.get(key), version))


def check(path, machine, version, max_bytes):
    with open(path, "rb") as file:
        data = file.read()
    failures = []
    if len(data) > max_bytes:
        failures.append("%d bytes, more than %d" % (len(data), max_bytes))
    pe = Pe(data)
    if pe.machine != MACHINES[machine]:
        failures.append("machine 0x%x, not %s" % (pe.machine, machine))
    if pe.subsystem != SUBSYSTEM_GUI:
        failures.append("subsystem %d, not Windows GUI (2)" % pe.subsystem)
    dlls = pe.imported_dlls()
    for dll in dlls:
        if dll.lower() not in ALLOWED_DLLS:
            failures.append("imports %s, which is not one of Windows' own" % dll)

    resources = pe.resources()
    manifest = resources.get((RT_MANIFEST, PROCESS_MANIFEST_ID))
    if manifest is None:
        failures.append("no manifest (RT_MANIFEST %d)" % PROCESS_MANIFEST_ID)
    else:
        check_manifest(manifest, failures)
    versions = [data for (kind, _), data in resources.items() if kind == RT_VERSION]
    if not versions:
        failures.append("no version resource (RT_VERSION)")
    else:
        check_version(versions[0], version, failures)

    print("%s: %d bytes, %s, subsystem %d, imports %s"
          % (path, len(data), machine, pe.subsystem, ", ".join(dlls)))
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--max-bytes", type=int, required=True)
    arguments = parser.parse_args()
    try:
        failures = check(arguments.exe, arguments.machine, arguments.version, arguments.max_bytes)
    except (OSError, ValueError, struct.error) as error:
        failures = ["cannot be read as a PE file: %s" % error]
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print("footprint ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
