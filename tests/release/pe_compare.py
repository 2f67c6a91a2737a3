#!/usr/bin/env python3
"""Compares two PE files part by part and names the first part that differs.

    pe_compare.py FIRST SECOND

The parts, in the order they are compared: the DOS header and stub, each field of the COFF and
optional headers (a data directory counts as a field), each section header, then each section's
contents by name, the COFF symbol and string tables, the certificate table (the Authenticode
signature) and whatever else lies in the file. Exit status 0 when the files are byte-identical,
1 when they differ (the first differing part, then every other one, are printed), 2 when a file
cannot be read or is not a PE file."""

import struct
import sys

# (name, offset, size) of the COFF header's fields, from the "PE\0\0" signature's end.
COFF_FIELDS = [
    ("Machine", 0, 2),
    ("NumberOfSections", 2, 2),
    ("TimeDateStamp", 4, 4),
    ("PointerToSymbolTable", 8, 4),
    ("NumberOfSymbols", 12, 4),
    ("SizeOfOptionalHeader", 16, 2),
    ("Characteristics", 18, 2),
]
COFF_SIZE = 20

# The optional header's fields up to the data directories: PE32, then PE32+ (where BaseOfData
# is gone and the addresses and sizes of the image base, stack and heap take 8 bytes).
_OPTIONAL_COMMON = [
    ("Magic", 2), ("MajorLinkerVersion", 1), ("MinorLinkerVersion", 1), ("SizeOfCode", 4),
    ("SizeOfInitializedData", 4), ("SizeOfUninitializedData", 4), ("AddressOfEntryPoint", 4),
    ("BaseOfCode", 4),
]
_OPTIONAL_TAIL = [
    ("SectionAlignment", 4), ("FileAlignment", 4), ("MajorOperatingSystemVersion", 2),
    ("MinorOperatingSystemVersion", 2), ("MajorImageVersion", 2), ("MinorImageVersion", 2),
    ("MajorSubsystemVersion", 2), ("MinorSubsystemVersion", 2), ("Win32VersionValue", 4),
    ("SizeOfImage", 4), ("SizeOfHeaders", 4), ("CheckSum", 4), ("Subsystem", 2),
    ("DllCharacteristics", 2),
]


def _optional_fields(pe32_plus):
    wide = 8 if pe32_plus else 4
    fields = list(_OPTIONAL_COMMON)
    if not pe32_plus:
        fields.append(("BaseOfData", 4))
    fields.append(("ImageBase", wide))
    fields += _OPTIONAL_TAIL
    fields += [("SizeOfStackReserve", wide), ("SizeOfStackCommit", wide),
               ("SizeOfHeapReserve", wide), ("SizeOfHeapCommit", wide),
               ("LoaderFlags", 4), ("NumberOfRvaAndSizes", 4)]
    result = []
    offset = 0
    for name, size in fields:
        result.append((name, offset, size))
        offset += size
    return result


DATA_DIRECTORIES = [
    "export table", "import table", "resource table", "exception table", "certificate table",
    "base relocation table", "debug directory", "architecture", "global pointer", "TLS table",
    "load configuration table", "bound import", "import address table",
    "delay import descriptor", "CLR runtime header", "reserved",
]
CERTIFICATE_DIRECTORY = 4
SECTION_HEADER_FIELDS = [
    ("Name", 0, 8), ("VirtualSize", 8, 4), ("VirtualAddress", 12, 4), ("SizeOfRawData", 16, 4),
    ("PointerToRawData", 20, 4), ("PointerToRelocations", 24, 4),
    ("PointerToLinenumbers", 28, 4), ("NumberOfRelocations", 32, 2),
    ("NumberOfLinenumbers", 34, 2), ("Characteristics", 36, 4),
]
SECTION_HEADER_SIZE = 40
SYMBOL_SIZE = 18


# Differences printed after the first; a layout change moves everything behind it.
SHOWN = 12


class NotPe(Exception):
    pass


class PeLayout:
    """The parts of one PE file: a list of (name, start, end) in file offsets, headers first."""

    def __init__(self, data):
        self.data = data
        self.headers = []  # (name, start, end): fields and section headers, in file order
        self.sections = []  # (name, start, end): the sections' raw data, in table order
        self.tables = []  # (name, start, end): symbol, string and certificate tables
        self._parse()

    def _need(self, end, what):
        if end > len(self.data):
            raise NotPe(f"the file ends inside its {what}")

    def _u(self, offset, size):
        return int.from_bytes(self.data[offset:offset + size], "little")

    def _parse(self):
        data = self.data
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise NotPe("no MZ header")
        pe = self._u(0x3C, 4)
        self._need(pe + 4 + COFF_SIZE, "PE header")
        if data[pe:pe + 4] != b"PE\0\0":
            raise NotPe("no PE signature")
        self.headers.append(("DOS header and stub", 0, pe + 4))
        coff = pe + 4
        for name, offset, size in COFF_FIELDS:
            self.headers.append((f"COFF header field {name}", coff + offset, coff + offset + size))
        sections = self._u(coff + 2, 2)
        symbols_at = self._u(coff + 8, 4)
        symbols = self._u(coff + 12, 4)
        optional_size = self._u(coff + 16, 2)
        optional = coff + COFF_SIZE
        self._need(optional + optional_size, "optional header")
        magic = self._u(optional, 2)
        if magic not in (0x10B, 0x20B):
            raise NotPe(f"unknown optional header magic 0x{magic:x}")
        fields = _optional_fields(magic == 0x20B)
        directories_at = fields[-1][1] + fields[-1][2]
        for name, offset, size in fields:
            if offset + size <= optional_size:
                start = optional + offset
                self.headers.append((f"optional header field {name}", start, start + size))
        count = min(self._u(optional + directories_at - 4, 4), len(DATA_DIRECTORIES),
                    (optional_size - directories_at) // 8)
        self.certificate = (0, 0)
        for index in range(max(count, 0)):
            start = optional + directories_at + 8 * index
            self.headers.append((f"data directory {DATA_DIRECTORIES[index]}", start, start + 8))
            if index == CERTIFICATE_DIRECTORY:
                # The one directory that holds a file offset rather than an address.
                self.certificate = (self._u(start, 4), self._u(start, 4) + self._u(start + 4, 4))
        table = optional + optional_size
        self._need(table + sections * SECTION_HEADER_SIZE, "section table")
        for index in range(sections):
            entry = table + index * SECTION_HEADER_SIZE
            name = self._section_name(entry, symbols_at, symbols)
            for field, offset, size in SECTION_HEADER_FIELDS:
                self.headers.append((f"section header {name} field {field}", entry + offset,
                                     entry + offset + size))
            raw_size = self._u(entry + 16, 4)
            raw_at = self._u(entry + 20, 4)
            if raw_size:
                self.sections.append((f"section {name}", raw_at,
                                      min(raw_at + raw_size, len(data))))
        if symbols_at:
            strings_at = symbols_at + symbols * SYMBOL_SIZE
            self.tables.append(("COFF symbol table", symbols_at, min(strings_at, len(data))))
            if strings_at + 4 <= len(data):
                self.tables.append(("COFF string table", strings_at,
                                    min(strings_at + self._u(strings_at, 4), len(data))))
        if self.certificate[1] > self.certificate[0]:
            self.tables.append(("certificate table (signature)", self.certificate[0],
                                min(self.certificate[1], len(data))))

    def _section_name(self, entry, symbols_at, symbols):
        raw = self.data[entry:entry + 8].rstrip(b"\0")
        # A long name is "/<offset>" into the string table after the symbols.
        if raw.startswith(b"/") and raw[1:].isdigit() and symbols_at:
            start = symbols_at + symbols * SYMBOL_SIZE + int(raw[1:])
            end = self.data.find(b"\0", start)
            if start < len(self.data) and end > start:
                raw = self.data[start:end]
        return raw.decode("ascii", "replace")

    def parts(self):
        """Every part by name, headers in file order, then the sections and tables."""
        return self.headers + self.sections + self.tables

    def covered(self):
        return sorted((start, end) for _, start, end in self.parts())


def _uncovered(layout):
    """The (start, end) runs of the file's bytes that belong to no named part."""
    runs = []
    position = 0
    for start, end in layout.covered() + [(len(layout.data), len(layout.data))]:
        if start > position:
            runs.append((position, start))
        position = max(position, end)
    return runs


def differences(first, second):
    """The names of the parts in which two PE images differ, the first difference first."""
    a = PeLayout(first)
    b = PeLayout(second)
    found = []
    by_name = {name: (start, end) for name, start, end in b.parts()}
    for name, start, end in a.parts():
        other = by_name.pop(name, None)
        if other is None:
            found.append(f"{name} (only in the first file)")
        elif first[start:end] != second[other[0]:other[1]]:
            found.append(_describe(name, first[start:end], second[other[0]:other[1]]))
    for name in by_name:
        found.append(f"{name} (only in the second file)")
    if not found:
        for start, end in _uncovered(a):
            if first[start:end] != second[start:end]:
                found.append(f"bytes 0x{start:x}-0x{end:x}, outside every part")
        if len(first) != len(second):
            found.append(f"file length: {len(first)} and {len(second)} bytes")
    return found


def _describe(name, one, two):
    if name.startswith("data directory"):
        return (f"{name}: address 0x{int.from_bytes(one[:4], 'little'):x} size "
                f"0x{int.from_bytes(one[4:], 'little'):x} and address "
                f"0x{int.from_bytes(two[:4], 'little'):x} size "
                f"0x{int.from_bytes(two[4:], 'little'):x}")
    if name.endswith(" field Name"):
        return f"{name}: {one.rstrip(bytes(1))!r} and {two.rstrip(bytes(1))!r}"
    if len(one) <= 8 and len(two) <= 8:
        return (f"{name}: 0x{int.from_bytes(one, 'little'):x} and "
                f"0x{int.from_bytes(two, 'little'):x}")
    if len(one) != len(two):
        return f"{name}: {len(one)} and {len(two)} bytes"
    at = next(i for i in range(len(one)) if one[i] != two[i])
    return f"{name}: first at byte 0x{at:x} of the part"


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    contents = []
    for path in argv[1:]:
        try:
            with open(path, "rb") as file:
                contents.append(file.read())
        except OSError as error:
            print(f"pe_compare: {error}", file=sys.stderr)
            return 2
    if contents[0] == contents[1]:
        print(f"identical: {argv[1]} and {argv[2]} ({len(contents[0])} bytes)")
        return 0
    try:
        found = differences(contents[0], contents[1])
    except NotPe as error:
        print(f"pe_compare: not a PE file: {error}", file=sys.stderr)
        return 2
    print(f"differ: {argv[1]} and {argv[2]}")
    print(f"first difference: {found[0]}")
    sections = [name for name in found if name.startswith("section ")
                and not name.startswith("section header")]
    print("first differing section: " + (sections[0] if sections else "none, the sections match"))
    for name in found[1:SHOWN]:
        print(f"also: {name}")
    if len(found) > SHOWN:
        print(f"and {len(found) - SHOWN} more")
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
