#!/usr/bin/python3
"""Checks a built Windows program without running it: its machine, PE32 or PE32+, the GUI
subsystem, no DLL beyond the system's (the runtimes are linked in statically), and, given the
list of functions that Windows Vista has ("DLL: function..." lines, # comments), no other import.

  pe_shape.py PROGRAM x86|x64 [VISTA_FUNCTIONS]

Prints what it found and exits non-zero on any mismatch."""
import re
import struct
import sys
from pathlib import Path

MACHINES = {"x86": (0x14C, 0x10B), "x64": (0x8664, 0x20B)}
SUBSYSTEM_GUI = 2
# DLLs a mingw build would need if a runtime were not linked statically.
RUNTIME_DLLS = ("libstdc++", "libgcc", "libwinpthread", "libssp")
# The known DLLs of Windows Vista and later, and ntdll, which the system maps into every process
# before anything else. Nothing else is imported when the program is loaded: the common controls
# neither, since a "<program>.local" folder could redirect them before the program has run.
KNOWN_DLLS = {"advapi32.dll", "comdlg32.dll", "gdi32.dll", "imagehlp.dll", "imm32.dll",
              "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll",
              "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "setupapi.dll", "shell32.dll",
              "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll", "ntdll.dll"}
LATE_DLLS = {"winhttp.dll", "version.dll", "crypt32.dll", "bcrypt.dll", "wintrust.dll",
             "comctl32.dll"}
DYNAMIC_BASE, NX_COMPAT, HIGH_ENTROPY_VA = 0x40, 0x100, 0x20


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

    def late_import_names(self):
        """The names that the import section holds beyond the static imports: the functions and
        DLLs of the late (delay-loaded) imports, which GNU ld places there as well."""
        for name, vaddr, size, raddr in self.sections:
            if name == b".idata":
                raw = self.data[raddr:raddr + size]
                # Names of hint/name entries start on an even address after their 2-byte hint.
                return {m.group().decode()
                        for m in re.finditer(rb"(?<=[\0-\xff]{2})[A-Za-z_][A-Za-z0-9_.@]{3,}(?=\0)", raw)
                        if (vaddr + m.start()) % 2 == 0 and re.search(rb"[a-z]", m.group())}
        return set()

    def late_import_tables(self):
        """{DLL name: (function names, IAT pointers)} of ld's delay-load descriptors, found in
        the code by their shape (attributes 1, then the name of a late DLL), since ld records them
        in no directory. Each pointer must lead to a stub until the first call."""
        wide = self.magic == 0x20B
        size, fmt = (8, "<Q") if wide else (4, "<I")
        found = {}
        for name, vaddr, length, raddr in self.sections:
            if name != b".text":
                continue
            for at in range(raddr, raddr + length - 32, 4):
                attributes, dll, _, iat, names = struct.unpack_from("<IIIII", self.data, at)
                if attributes != 1:
                    continue
                try:
                    dll_name = self.text(dll)
                    if dll_name.lower() not in LATE_DLLS:
                        continue
                    iat, names = self.offset(iat), self.offset(names)
                except (ValueError, UnicodeDecodeError):
                    continue
                functions, pointers = [], []
                while True:
                    (entry,) = struct.unpack_from(fmt, self.data, names)
                    if entry == 0:
                        break
                    functions.append(self.text((entry & 0x7FFFFFFF) + 2))
                    pointers.append(struct.unpack_from(fmt, self.data, iat)[0])
                    names, iat = names + size, iat + size
                found[dll_name] = (functions, pointers)
        return found

    def imports(self):
        """{DLL name: [function names, or #ordinal]} of the import directory."""
        rva, _ = self.directories[1]
        wide = self.magic == 0x20B
        thunk_size, ordinal_flag = (8, 1 << 63) if wide else (4, 1 << 31)
        found = {}
        entry = self.offset(rva) if rva else None
        while entry is not None:
            lookup, _, _, name, first_thunk = struct.unpack_from("<IIIII", self.data, entry)
            if not any((lookup, name, first_thunk)):
                break
            functions = []
            thunk = self.offset(lookup or first_thunk)
            while True:
                (value,) = struct.unpack_from("<Q" if wide else "<I", self.data, thunk)
                if value == 0:
                    break
                if value & ordinal_flag:
                    functions.append(f"#{value & 0xFFFF}")
                else:
                    functions.append(self.text((value & 0x7FFFFFFF) + 2))
                thunk += thunk_size
            found[self.text(name)] = functions
            entry += 20
        return found


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
    dlls = list(pe.imports())
    runtime = [d for d in dlls if d.lower().startswith(RUNTIME_DLLS)]
    if runtime:
        problems.append(f"needs runtime DLLs: {', '.join(runtime)}")
    print(f"{program.name}: {'PE32' if pe.magic == 0x10B else 'PE32+'} {arch}, "
          f"subsystem {pe.subsystem}, imports {', '.join(dlls)}")
    unknown_dlls = [d for d in dlls if d.lower() not in KNOWN_DLLS]
    if unknown_dlls:
        problems.append(f"imports DLLs that are not known DLLs: {', '.join(unknown_dlls)}")
    static_names = {name.lower() for functions in pe.imports().values() for name in functions}
    static_names |= {d.lower() for d in dlls}
    late = {n for n in pe.late_import_names() if n.lower() not in static_names}
    late_dlls = {n.lower() for n in late if n.lower().endswith(".dll")}
    if not late_dlls <= LATE_DLLS:
        problems.append(f"imports late from unexpected DLLs: {', '.join(sorted(late_dlls - LATE_DLLS))}")
    tables = pe.late_import_tables()
    if {d.lower() for d in tables} != late_dlls:
        problems.append(f"late DLLs {sorted(late_dlls)} but load descriptors for {sorted(tables)}")
    dropped = [f"{dll}!{function}" for dll, (functions, pointers) in tables.items()
               for function, pointer in zip(functions, pointers) if pointer == 0]
    if dropped:
        problems.append("late imports whose stub the linker dropped: " + ", ".join(dropped))
    flags = DYNAMIC_BASE | NX_COMPAT | (HIGH_ENTROPY_VA if arch == "x64" else 0)
    if pe.dll_characteristics & flags != flags:
        problems.append(f"DLL characteristics {pe.dll_characteristics:#x} lack {flags:#x}")
    if len(sys.argv) > 3:
        known = set()
        for line in Path(sys.argv[3]).read_text().splitlines():
            dll, _, functions = line.split("#", 1)[0].partition(":")
            known.update(f"{dll.strip()}!{name}".lower() for name in functions.split())
        imported = [f"{dll}!{function}" for dll, functions in pe.imports().items()
                    for function in functions]
        unknown = [name for name in imported if name.lower() not in known]
        # A late import's DLL is not recorded beside its name here: it must be known in any.
        known_anywhere = {name.split("!", 1)[1] for name in known}
        late_functions = sorted(n for n in late if not n.lower().endswith(".dll"))
        unknown += [f"(late) {n}" for n in late_functions if n.lower() not in known_anywhere]
        imported += late_functions
        if unknown:
            problems.append("imports not known to be in Windows Vista: " + ", ".join(unknown))
        print(f"{len(imported)} imported functions, {len(imported) - len(unknown)} known in Vista")
    for problem in problems:
        print(f"FAIL: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
