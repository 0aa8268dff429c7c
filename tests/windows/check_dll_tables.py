#!/usr/bin/env python3
"""Checks QK42RT.dll's export and import tables, as read by objdump -p.

Exports: exactly the names and ordinals of the module definition file, nothing else.
Imports: only DLLs that every Windows has (no compiler runtime beside the DLL).

usage: check_dll_tables.py OBJDUMP DLL DEF
"""
import re
import subprocess
import sys

SYSTEM_DLLS = re.compile(r"^(kernel32|user32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$",
                         re.IGNORECASE)


def expected_exports(def_path):
    exports = {}
    for line in open(def_path, encoding="ascii"):
        match = re.match(r"^\s*(\w+)\s+@(\d+)\s*$", line)
        if match:
            exports[match.group(1)] = int(match.group(2))
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
    return "file format pei-i386" in text, exports, address_count, imports


def main():
    objdump, dll, def_path = sys.argv[1:4]
    want = expected_exports(def_path)
    is_i386, got, address_count, imports = read_tables(objdump, dll)
    failures = 0

    def check(ok, what):
        nonlocal failures
        print(("ok   " if ok else "FAIL ") + what)
        failures += 0 if ok else 1

    check(is_i386, "a 32-bit (i386) Windows DLL")
    check(len(want) == 20, f"the module definition lists 20 functions ({len(want)})")
    for name, ordinal in sorted(want.items(), key=lambda item: item[1]):
        check(got.get(name) == ordinal, f"{name} exported at ordinal {ordinal} ({got.get(name)})")
    extra = sorted(set(got) - set(want))
    check(not extra, "no other name exported" + (f" ({', '.join(extra)})" if extra else ""))
    check(address_count == len(want),
          f"no export by ordinal only ({address_count} addresses for {len(want)} names)")
    foreign = [name for name in imports if not SYSTEM_DLLS.match(name)]
    check(imports and not foreign,
          f"imports only system DLLs ({', '.join(imports)})" +
          (f"; not system: {', '.join(foreign)}" if foreign else ""))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
