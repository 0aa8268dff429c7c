#!/usr/bin/env python3
"""Checks the Windows packages, read from their files and from Wine's registry.

usage: msi_check.py package MSI ZIP STAGE ARCH VERSION SOURCE
         the MSI's tables (files and folders, the PATH entry, the upgrade rows, the
         architecture) and the zip's listing against the staged folder and the source tree
       msi_check.py products NAME < reg-query-output
         prints the DisplayVersion of every product called NAME in the output of
         `reg query HKLM\\...\\Uninstall /s`, one a line
"""
import pathlib
import re
import subprocess
import sys
import zipfile


def table(msi, name):
    """The rows of one MSI table, as lists of fields (msiinfo's three header lines dropped)."""
    text = subprocess.run(["msiinfo", "export", msi, name], check=True, capture_output=True,
                          text=True).stdout
    return [line.split("\t") for line in text.splitlines()[3:] if line]


def expected_files(source):
    files = {"bin/QK42RT.dll", "bin/qk42.dll", "bin/qk42rt.exe", "bin/qk42rt-sim.exe",
             "include/qk42rt.h", "include/qk42.h", "include/qk42rt.def", "include/qk42.def",
             "lib/QK42RT.lib", "lib/qk42.lib", "doc/README.md"}
    return files | {f"doc/docs/{page.name}" for page in (source / "docs").glob("*.md")}


def installed_paths(msi):
    """Every file of the MSI as a path below the install folder."""
    parents = {row[0]: (row[1], row[2].split("|")[-1]) for row in table(msi, "Directory")}

    def folder(key):
        parts = []
        while key != "INSTALLDIR":
            key, name = parents[key]
            parts.append(name)
        return "/".join(reversed(parts))

    component_dir = {row[0]: row[2] for row in table(msi, "Component")}
    return {f"{folder(component_dir[row[1]])}/{row[2].split('|')[-1]}".lstrip("/")
            for row in table(msi, "File")}, parents


def check_package(msi, zip_path, stage, arch, version, source):
    failures = []
    stage, source = pathlib.Path(stage), pathlib.Path(source)
    want = expected_files(source)
    staged = {p.relative_to(stage).as_posix() for p in stage.rglob("*") if p.is_file()}
    if staged != want:
        failures.append(f"staged {sorted(staged ^ want)} differ from what a package holds")

    paths, parents = installed_paths(msi)
    if paths != want:
        failures.append(f"MSI files: missing {sorted(want - paths)}, extra {sorted(paths - want)}")
    program_files = "ProgramFiles64Folder" if arch == "x64" else "ProgramFilesFolder"
    if parents.get("INSTALLDIR") != (program_files, "QK42RT"):
        failures.append(f"install folder {parents.get('INSTALLDIR')}, not {program_files}\\QK42RT")
    win64 = {int(row[3]) & 256 for row in table(msi, "Component")}
    if win64 != ({256} if arch == "x64" else {0}):
        failures.append(f"components' 64-bit attribute {win64} wrong for {arch}")
    suminfo = subprocess.run(["msiinfo", "suminfo", msi], check=True, capture_output=True,
                             text=True).stdout
    platform = "x64" if arch == "x64" else "Intel"
    if f"Template: {platform};1033" not in suminfo:
        failures.append(f"summary's platform is not {platform}")

    properties = dict((row[0], row[1]) for row in table(msi, "Property"))
    if properties.get("ProductVersion") != version:
        failures.append(f"ProductVersion {properties.get('ProductVersion')}, not {version}")
    if properties.get("ALLUSERS") != "1":
        failures.append("not a per-machine package (ALLUSERS)")
    environment = table(msi, "Environment")
    if [row[1:3] for row in environment] != [["=-*PATH", "[~];[INSTALLDIR]bin"]]:
        failures.append(f"PATH entry rows {environment}")
    sequence = {row[0]: int(row[2]) for row in table(msi, "InstallExecuteSequence")}
    for action in ("WriteEnvironmentStrings", "RemoveEnvironmentStrings",
                   "FindRelatedProducts", "RemoveExistingProducts"):
        if action not in sequence:
            failures.append(f"{action} is not in the install sequence")
    upgrade = {row[6]: row for row in table(msi, "Upgrade")}
    code = "{" + properties.get("UpgradeCode", "").strip("{}") + "}"
    if (upgrade.get("WIX_UPGRADE_DETECTED", [])[:5] != [code, "", version, "", "513"] or
            upgrade.get("WIX_DOWNGRADE_DETECTED", [])[:5] != [code, version, "", "", "2"]):
        failures.append(f"upgrade rows {sorted(upgrade.values())}")

    top = f"qk42rt-{version}-{arch}/"
    with zipfile.ZipFile(zip_path) as archive:
        names = {n for n in archive.namelist() if not n.endswith("/")}
        if {n[len(top):] for n in names if n.startswith(top)} != want or \
                any(not n.startswith(top) for n in names):
            failures.append(f"zip holds {sorted(names)}, not {sorted(want)} below {top}")
        for name in want & {n[len(top):] for n in names}:
            if archive.read(top + name) != (stage / name).read_bytes():
                failures.append(f"zip's {name} differs from the staged file")
    for failure in failures:
        print("   ", failure)
    if not failures:
        print(f"    {len(want)} files in the MSI and the zip, PATH entry, upgrade rows, {arch}")
    return not failures


def products(name, text):
    versions, current = [], {}
    for line in text.splitlines() + ["HKEY_END"]:
        if line.startswith("HKEY_"):
            if current.get("DisplayName") == name:
                versions.append(current.get("DisplayVersion", "?"))
            current = {}
            continue
        match = re.match(r"^\s+(\S+)\s+REG_\w+\s*(.*?)\s*$", line)
        if match:
            current[match.group(1)] = match.group(2)
    return versions


def main(argv):
    if len(argv) == 8 and argv[1] == "package":
        return 0 if check_package(*argv[2:]) else 1
    if len(argv) == 3 and argv[1] == "products":
        for version in products(argv[2], sys.stdin.read()):
            print(version)
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
