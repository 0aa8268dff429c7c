"""The PEP 517 build backend of the qk42 package, written here rather than taken from
setuptools or flit: no package index is reachable where the project is built, so pip cannot
download a backend into its isolated build environment, and a pure-Python wheel is only a zip
with the package and four small metadata files. Standard library only.

Hooks: build_wheel, build_editable (PEP 660: a .pth file naming this source tree),
build_sdist, and the prepare_metadata hooks.

A Windows wheel carries qk42.dll in the package: build_wheel takes the DLL from the config
setting `dll` (`pip wheel --config-settings dll=PATH`) or from QK42_WHEEL_DLL, and tags the
wheel after the machine the DLL's own header names, so that tag and DLL cannot disagree.
windows_wheel.py beside this file does that for one DLL.
"""

from __future__ import annotations

import base64
import hashlib
import io
import os
import re
import tarfile
import time
import zipfile
from pathlib import Path
from typing import Any, Dict, Iterator, List, Optional, Tuple

try:
    import tomllib
except ImportError as e:  # Python 3.10 and older
    raise ImportError("building qk42 needs Python 3.11 or newer (tomllib)") from e

ROOT = Path(__file__).resolve().parent.parent
PACKAGE = "qk42"
TAG = "py3-none-any"
DLL_SETTING = "dll"
DLL_ENV = "QK42_WHEEL_DLL"
DLL_NAME = "qk42.dll"

# The machine field of a PE file's COFF header, and the wheel platform of each.
PE_PLATFORMS = {0x014C: "win32", 0x8664: "win_amd64"}
_PE_DLL_FLAG = 0x2000  # IMAGE_FILE_DLL in the COFF characteristics

Config = Optional[Dict[str, Any]]


def _project() -> Dict[str, Any]:
    with open(ROOT / "pyproject.toml", "rb") as f:
        return tomllib.load(f)["project"]


def _version() -> str:
    text = (ROOT / PACKAGE / "_version.py").read_text(encoding="utf-8")
    match = re.search(r'^__version__ = "([^"]+)"$', text, re.MULTILINE)
    if match is None:
        raise RuntimeError(f"no __version__ in {PACKAGE}/_version.py")
    return match.group(1)


def pe_platform(data: bytes) -> str:
    """The wheel platform of a Windows DLL's bytes; ValueError says why when they are none."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise ValueError("not a Windows DLL (no MZ header)")
    pe = int.from_bytes(data[0x3C:0x40], "little")
    if pe + 24 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a Windows DLL (no PE header)")
    machine = int.from_bytes(data[pe + 4:pe + 6], "little")
    characteristics = int.from_bytes(data[pe + 22:pe + 24], "little")
    if not characteristics & _PE_DLL_FLAG:
        raise ValueError("a Windows program, not a DLL")
    if machine not in PE_PLATFORMS:
        raise ValueError(f"a DLL for machine 0x{machine:04X}; wheels are made for "
                         "x86 (0x014C) and x64 (0x8664) only")
    return PE_PLATFORMS[machine]


def _windows_dll(config: Config) -> Optional[Tuple[str, bytes]]:
    """The wheel's tag and the DLL's bytes, when a DLL is asked for."""
    setting = (config or {}).get(DLL_SETTING) or os.environ.get(DLL_ENV)
    if not setting:
        return None
    if not isinstance(setting, str):
        raise ValueError(f"config setting {DLL_SETTING} given more than once: {setting!r}")
    try:
        data = Path(setting).read_bytes()
    except OSError as e:
        raise ValueError(f"cannot read the DLL {setting}: {e.strerror or e}") from None
    try:
        return f"py3-none-{pe_platform(data)}", data
    except ValueError as e:
        raise ValueError(f"{setting}: {e}") from None


def _wheel_tag(config: Config) -> str:
    dll = _windows_dll(config)
    return dll[0] if dll else TAG


def _dist_info_name() -> str:
    return f"{PACKAGE}-{_version()}.dist-info"


def _metadata_files(tag: str = TAG) -> Dict[str, bytes]:
    project = _project()
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {_version()}",
        f"Summary: {project['description']}",
        f"Requires-Python: {project['requires-python']}",
    ]
    lines += [f"Classifier: {c}" for c in project.get("classifiers", [])]
    entry_points: List[str] = []
    for group, entries in project.get("entry-points", {}).items():
        entry_points.append(f"[{group}]")
        entry_points += [f"{name} = {target}" for name, target in entries.items()]
        entry_points.append("")
    files = {
        "METADATA": ("\n".join(lines) + "\n").encode(),
        "WHEEL": (
            "Wheel-Version: 1.0\nGenerator: qk42_backend\n"
            f"Root-Is-Purelib: {'true' if tag == TAG else 'false'}\nTag: {tag}\n"
        ).encode(),
        "top_level.txt": f"{PACKAGE}\n".encode(),
    }
    if entry_points:
        files["entry_points.txt"] = "\n".join(entry_points).encode()
    return files


def _package_files() -> Iterator[Tuple[str, bytes]]:
    # Sources and the typing marker only: a copy of libqk42 beside the package in the tree
    # would make the wheel platform-specific, which the py3-none-any tag would hide.
    base = ROOT / PACKAGE
    for path in sorted(base.rglob("*")):
        if "__pycache__" in path.parts or not path.is_file():
            continue
        if path.suffix == ".py" or path.name == "py.typed":
            yield path.relative_to(ROOT).as_posix(), path.read_bytes()


def _timestamp() -> Tuple[int, int, int, int, int, int]:
    # Reproducible: the same sources give the same wheel (SOURCE_DATE_EPOCH if set).
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "315532800"))
    return time.gmtime(max(epoch, 315532800))[:6]


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def _write_wheel(directory: str, files: List[Tuple[str, bytes]], tag: str = TAG) -> str:
    dist_info = _dist_info_name()
    files = files + [(f"{dist_info}/{n}", d) for n, d in _metadata_files(tag).items()]
    record = "\n".join(_record_line(n, d) for n, d in files) + f"\n{dist_info}/RECORD,,\n"
    files.append((f"{dist_info}/RECORD", record.encode()))
    name = f"{PACKAGE}-{_version()}-{tag}.whl"
    with zipfile.ZipFile(Path(directory) / name, "w", zipfile.ZIP_DEFLATED) as wheel:
        for arcname, data in files:
            info = zipfile.ZipInfo(arcname, _timestamp())
            info.external_attr = 0o644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
    return name


def _write_metadata(directory: str, tag: str = TAG) -> str:
    target = Path(directory) / _dist_info_name()
    target.mkdir(parents=True, exist_ok=True)
    for name, data in _metadata_files(tag).items():
        (target / name).write_bytes(data)
    return target.name


def get_requires_for_build_wheel(config_settings: Config = None) -> List[str]:
    return []


def get_requires_for_build_editable(config_settings: Config = None) -> List[str]:
    return []


def get_requires_for_build_sdist(config_settings: Config = None) -> List[str]:
    return []


def prepare_metadata_for_build_wheel(metadata_directory: str,
                                     config_settings: Config = None) -> str:
    return _write_metadata(metadata_directory, _wheel_tag(config_settings))


def prepare_metadata_for_build_editable(metadata_directory: str,
                                        config_settings: Config = None) -> str:
    return _write_metadata(metadata_directory)


def build_wheel(wheel_directory: str, config_settings: Config = None,
                metadata_directory: Optional[str] = None) -> str:
    files = list(_package_files())
    dll = _windows_dll(config_settings)
    if dll is None:
        return _write_wheel(wheel_directory, files)
    tag, data = dll
    return _write_wheel(wheel_directory, files + [(f"{PACKAGE}/{DLL_NAME}", data)], tag)


def build_editable(wheel_directory: str, config_settings: Config = None,
                   metadata_directory: Optional[str] = None) -> str:
    # The source tree goes on sys.path; edits to qk42/ take effect without reinstalling.
    pth = f"{ROOT}\n".encode()
    return _write_wheel(wheel_directory, [(f"__editable__.{PACKAGE}.pth", pth)])


def build_sdist(sdist_directory: str, config_settings: Config = None) -> str:
    base = f"{PACKAGE}-{_version()}"
    name = f"{base}.tar.gz"
    sources = ["pyproject.toml", "build_backend/qk42_backend.py"]
    sources += [n for n, _ in _package_files()]
    sources += sorted(p.relative_to(ROOT).as_posix() for p in (ROOT / "tests").glob("*.py"))
    mtime = int(os.environ.get("SOURCE_DATE_EPOCH", "315532800"))

    def add(archive: tarfile.TarFile, arcname: str, data: bytes) -> None:
        info = tarfile.TarInfo(f"{base}/{arcname}")
        info.size, info.mtime, info.mode = len(data), mtime, 0o644
        archive.addfile(info, io.BytesIO(data))

    with tarfile.open(Path(sdist_directory) / name, "w:gz", format=tarfile.PAX_FORMAT) as sdist:
        for source in sources:
            add(sdist, source, (ROOT / source).read_bytes())
        add(sdist, "PKG-INFO", _metadata_files()["METADATA"])
    return name
