#!/usr/bin/python3
"""Checks the shape of a built Windows program without running it: the machine it is built for,
PE32 or PE32+, the GUI subsystem, and that it needs no DLL beyond the system's (the C and C++
runtimes and the thread library are linked in statically).

  pe_shape.py PROGRAM x86|x64

Prints what it found and exits non-zero on the first mismatch."""
import struct
import sys
from pathlib import Path

MACHINES = {"x86": (0x14C, 0x10B), "x64": (0x8664, 0x20B)}
SUBSYSTEM_GUI = 2
# DLLs a mingw build would need if a runtime were not linked statically.
RUNTIME_DLLS = ("libstdc++", "libgcc", "libwinpthread", "libssp")


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
        if data[pe_offset:pe_offset + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        coff = pe_offset + 4
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, coff)
        self.optional = coff + 20
        (self.magic,) = struct.unpack_from("<H", data, self.optional)
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data,
                                                                      self.optional + 68)
        directories = self.optional + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                            for i in range(16)]
        table = self.optional + optional_size
        self.sections = []
        for i in range(sections):
            name, vsize, vaddr, rsize, raddr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0"), vaddr, max(vsize, rsize), raddr))

    def offset(self, rva):
        for _, vaddr, size, raddr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raddr
        raise ValueError(f"address {rva:#x} is in no section")

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imported_dlls(self):
        rva, _ = self.directories[1]
        dlls = []
        entry = self.offset(rva) if rva else None
        while entry is not None:
            fields = struct.unpack_from("<IIIII", self.data, entry)
            if not any(fields):
                break
            dlls.append(self.text(fields[3]))
            entry += 20
        return dlls


def main():
    program, arch = Path(sys.argv[1]), sys.argv[2]
    pe = Pe(program.read_bytes())
    machine, magic = MACHINES[arch]
    problems = []
    if pe.machine != machine:
        problems.append(f"machine {pe.machine:#x}, expected {machine:#x}")
    if pe.magic != magic:
        problems.append(f"optional header magic {pe.magic:#x}, expected {magic:#x}")
    if pe.subsystem != SUBSYSTEM_GUI:
        problems.append(f"subsystem {pe.subsystem}, expected the GUI subsystem")
    dlls = pe.imported_dlls()
    runtime = [d for d in dlls if d.lower().startswith(RUNTIME_DLLS)]
    if runtime:
        problems.append(f"needs runtime DLLs: {', '.join(runtime)}")
    print(f"{program.name}: {'PE32' if pe.magic == 0x10B else 'PE32+'} {arch}, "
          f"subsystem {pe.subsystem}, imports {', '.join(dlls)}")
    for problem in problems:
        print(f"FAIL: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
