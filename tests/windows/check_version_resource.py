#!/usr/bin/env python3
"""Checks QK42RT.dll's version resource as windres decompiles it from the file itself, with
no Windows and no Wine: the one string block 041204B0 and its values, the fixed versions and
the one translation entry. The Wine step reads the same through the Windows version API.

usage: check_version_resource.py WINDRES DLL
"""
import re
import subprocess
import sys

STRINGS = {
    "FileDescription": "QK42RT DLL",
    "FileVersion": "1, 0, 0, 1",
    "InternalName": "QK42RT",
    "OriginalFilename": "QK42RT.DLL",
    "ProductVersion": "1, 0, 0, 1",
}


def main():
    windres, dll = sys.argv[1:3]
    text = subprocess.run([windres, "-i", dll, "-O", "rc"], check=True, capture_output=True,
                          text=True).stdout
    failures = 0

    def check(ok, what):
        nonlocal failures
        print(("ok   " if ok else "FAIL ") + what)
        failures += 0 if ok else 1

    check(text.count("VERSIONINFO") == 1, "one version resource")
    blocks = re.findall(r'BLOCK "([0-9A-Fa-f]{8})"', text)
    check(blocks == ["041204B0"], f"one string block, 041204B0 ({', '.join(blocks)})")
    values = dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', text))
    for name, want in STRINGS.items():
        check(values.get(name) == want, f'{name} is "{want}" (read "{values.get(name)}")')
    extra = sorted(set(values) - set(STRINGS))
    check(not extra, "no other string" + (f" ({', '.join(extra)})" if extra else ""))
    for field in ("FILEVERSION", "PRODUCTVERSION"):
        found = re.search(rf"^\s*{field}\s+(.*)$", text, re.MULTILINE)
        got = re.sub(r"\s", "", found.group(1)) if found else None
        check(got == "1,0,0,1", f"{field} 1,0,0,1 ({got})")
    translations = re.findall(r'VALUE "Translation",\s*(.*)$', text, re.MULTILINE)
    got = [re.sub(r"\s", "", t).lower() for t in translations]
    check(got == ["0x412,1200"], f"the one translation is 0x0412, code page 1200 ({got})")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
