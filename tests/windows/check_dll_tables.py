#!/usr/bin/env python3
"""Checks a DLL's export and import tables, as read by objdump -p.

Exports: exactly the names of the module definition file (at its ordinals where it gives
them), nothing else. Imports: only DLLs that every Windows has (no compiler runtime beside the
DLL). The file is of the architecture asked for.

usage: check_dll_tables.py OBJDUMP DLL DEF ARCH [EXTRA_SYSTEM_DLL...]
       ARCH: i386 or x86-64; EXTRA_SYSTEM_DLL: further system DLLs allowed (ws2_32)
"""
import re
import subprocess
import sys

SYSTEM_DLLS = ["kernel32", "user32", "msvcrt", "ucrtbase", r"api-ms-win-crt-[a-z0-9-]+"]


def expected_exports(def_path):
    exports = {}
    for line in open(def_path, encoding="ascii"):
        match = re.match(r"^\s+(\w+)(?:\s+@(\d+))?\s*$", line)
        if match:
            exports[match.group(1)] = int(match.group(2)) if match.group(2) else None
    return exports


def read_tables(objdump, dll):
    text = subprocess.run([objdump, "-p", dll], check=True, capture_output=True,
                          text=True).stdout
    base = int(re.search(r"Ordinal Base (\d+)", text).group(1))
    names_part = text.split("[Ordinal/Name Pointer] Table", 1)[1].split("\n\n", 1)[0]
    exports = {name: int(index) + base
               for index, name in re.findall(r"\[\s*(\d+)\]\s+(\S+)", names_part)}
    address_part = text.split("Export Address Table -- Ordinal Base", 1)[1].split("\n\n", 1)[0]
    address_count = len(re.findall(r"\+base\[", address_part))
    imports = re.findall(r"DLL Name: (\S+)", text)
    file_format = re.search(r"file format (\S+)", text).group(1)
    return file_format, exports, address_count, imports


def main():
    if len(sys.argv) < 5:
        print(__doc__)
        return 2
    objdump, dll, def_path, arch = sys.argv[1:5]
    system = re.compile(r"^(" + "|".join(SYSTEM_DLLS + sys.argv[5:]) + r")\.dll$", re.IGNORECASE)
    want = expected_exports(def_path)
    file_format, got, address_count, imports = read_tables(objdump, dll)
    failures = 0

    def check(ok, what):
        nonlocal failures
        print(("ok   " if ok else "FAIL ") + what)
        failures += 0 if ok else 1

    wanted_format = {"i386": "pei-i386", "x86-64": "pei-x86-64"}[arch]
    check(file_format == wanted_format, f"a {arch} Windows DLL ({file_format})")
    check(len(want) > 0, f"the module definition lists {len(want)} functions")
    for name, ordinal in sorted(want.items(), key=lambda item: (item[1] or 0, item[0])):
        if ordinal is None:
            check(name in got, f"{name} exported")
        else:
            check(got.get(name) == ordinal,
                  f"{name} exported at ordinal {ordinal} ({got.get(name)})")
    extra = sorted(set(got) - set(want))
    check(not extra, "no other name exported" + (f" ({', '.join(extra)})" if extra else ""))
    check(address_count == len(want),
          f"no export by ordinal only ({address_count} addresses for {len(want)} names)")
    foreign = [name for name in imports if not system.match(name)]
    check(imports and not foreign,
          f"imports only system DLLs ({', '.join(imports)})" +
          (f"; not system: {', '.join(foreign)}" if foreign else ""))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
