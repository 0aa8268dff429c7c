"""The package as users install it: the wheel the in-tree backend builds, and pip installing
it offline into a virtual environment, where pytest then finds the fixture by itself."""

from __future__ import annotations

import base64
import csv
import hashlib
import importlib.util
import io
import os
import shutil
import subprocess
import sys
import tarfile
import zipfile
from pathlib import Path
from types import ModuleType
from typing import Dict, Iterator, List

import pytest

import qk42

PYTHON_DIR = Path(__file__).resolve().parents[1]


def _backend() -> ModuleType:
    spec = importlib.util.spec_from_file_location(
        "qk42_backend", PYTHON_DIR / "build_backend" / "qk42_backend.py")
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def verify_record(wheel: zipfile.ZipFile, dist_info: str) -> None:
    """RECORD names every file of the wheel with its size and sha256, itself without."""
    record = list(csv.reader(io.StringIO(wheel.read(f"{dist_info}/RECORD").decode())))
    assert sorted(row[0] for row in record) == sorted(wheel.namelist())
    for path, digest, size in record:
        if path == f"{dist_info}/RECORD":
            assert (digest, size) == ("", "")
            continue
        data = wheel.read(path)
        expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
        assert (digest, int(size)) == ("sha256=" + expected.decode(), len(data)), path


def test_wheel_holds_the_package_and_a_valid_record(tmp_path: Path) -> None:
    name = _backend().build_wheel(str(tmp_path))
    assert name == f"qk42-{qk42.__version__}-py3-none-any.whl"
    with zipfile.ZipFile(tmp_path / name) as wheel:
        names = wheel.namelist()
        dist_info = f"qk42-{qk42.__version__}.dist-info"
        sources = sorted(p.relative_to(PYTHON_DIR).as_posix()
                         for p in (PYTHON_DIR / "qk42").glob("*.py"))
        assert sorted(n for n in names if n.endswith(".py")) == sources
        assert "qk42/py.typed" in names
        assert not [n for n in names if "__pycache__" in n or n.endswith(".so.1")]
        verify_record(wheel, dist_info)
        metadata = wheel.read(f"{dist_info}/METADATA").decode()
        assert f"Version: {qk42.__version__}\n" in metadata and "Name: qk42\n" in metadata
        entry_points = wheel.read(f"{dist_info}/entry_points.txt").decode()
        assert "[pytest11]\nqk42.testing = qk42.testing\n" in entry_points
    again = tmp_path / "again"
    again.mkdir()
    _backend().build_wheel(str(again))
    assert (again / name).read_bytes() == (tmp_path / name).read_bytes()  # reproducible


def _venv_or_skip(where: Path) -> Path:
    made = subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(where)],
                          capture_output=True, text=True, timeout=120)
    if made.returncode != 0 and "ensurepip" in made.stdout + made.stderr:
        pytest.skip("python3-venv is not installed (scripts/install-deps.sh installs it)")
    assert made.returncode == 0, made.stdout + made.stderr
    return where / "bin"


@pytest.fixture(scope="module")
def venv(tmp_path_factory: pytest.TempPathFactory) -> Iterator[Path]:
    yield _venv_or_skip(tmp_path_factory.mktemp("venv") / "v")


def _env() -> Dict[str, str]:
    # Nothing from the source tree: what runs is what pip installed.
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "PIP_INDEX_URL")}
    env["PIP_DISABLE_PIP_VERSION_CHECK"] = "1"
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    return env


def _run(args: List[str], cwd: Path) -> str:
    result = subprocess.run(args, cwd=cwd, env=_env(), capture_output=True, text=True,
                            timeout=120)
    assert result.returncode == 0, f"{args}:\n{result.stdout}\n{result.stderr}"
    return result.stdout


def _source_copy(tmp_path: Path) -> Path:
    copy = tmp_path / "python"
    shutil.copytree(PYTHON_DIR, copy, ignore=shutil.ignore_patterns(
        "__pycache__", ".pytest_cache", "libqk42.so*", "qk42.dll"))
    return copy


USER_TEST = '''
import qk42

def test_user_fixture(qk42_simulator):
    with qk42.open(qk42_simulator.device) as line:
        assert line.instrument(1).version().kind == "C"
'''


def test_pip_installs_offline_and_pytest_finds_the_fixture(venv: Path, tmp_path: Path) -> None:
    source = _source_copy(tmp_path)
    _run([str(venv / "pip"), "install", "--no-index", str(source)], tmp_path)
    where = _run([str(venv / "python"), "-c", "import qk42; print(qk42.__file__)"], tmp_path)
    assert "site-packages" in where and str(source) not in where

    # Through the entry point alone, and beside a conftest.py naming the plugin as well.
    plain = tmp_path / "plain"
    plain.mkdir()
    (plain / "test_user.py").write_text(USER_TEST)
    named = tmp_path / "named"
    named.mkdir()
    (named / "test_user.py").write_text(USER_TEST)
    (named / "conftest.py").write_text('pytest_plugins = ["qk42.testing"]\n')
    for project in (plain, named):
        out = _run([str(venv / "python"), "-m", "pytest", "-q", "-p", "no:cacheprovider"],
                   project)
        assert "1 passed" in out

    _run([str(venv / "pip"), "uninstall", "-y", "qk42"], tmp_path)
    gone = subprocess.run([str(venv / "python"), "-c", "import qk42"], cwd=tmp_path, env=_env(),
                          capture_output=True)
    assert gone.returncode != 0


def test_pip_editable_install_uses_the_source(venv: Path, tmp_path: Path) -> None:
    source = _source_copy(tmp_path)
    _run([str(venv / "pip"), "install", "--no-index", "-e", str(source)], tmp_path)
    try:
        (source / "qk42" / "_version.py").write_text('__version__ = "9.9"\n')
        out = _run([str(venv / "python"), "-c", "import qk42; print(qk42.__version__)"],
                   tmp_path)
        assert out.strip() == "9.9"
    finally:
        _run([str(venv / "pip"), "uninstall", "-y", "qk42"], tmp_path)


def _pe(machine: int, dll: bool = True, pe_offset: int = 0x80) -> bytes:
    """The first bytes of a PE file: the MZ header, the PE signature and the COFF header."""
    mz = b"MZ" + bytes(0x3A) + pe_offset.to_bytes(4, "little") + bytes(pe_offset - 0x40)
    characteristics = 0x2102 if dll else 0x0102
    coff = machine.to_bytes(2, "little") + bytes(16) + characteristics.to_bytes(2, "little")
    return mz + b"PE\0\0" + coff + bytes(0xF0)


@pytest.mark.parametrize("dll, platform", [
    (_pe(0x8664), "win_amd64"),
    (_pe(0x014C), "win32"),
])
def test_windows_wheel_is_tagged_after_the_dll(tmp_path: Path, monkeypatch: pytest.MonkeyPatch,
                                               dll: bytes, platform: str) -> None:
    (tmp_path / "in.dll").write_bytes(dll)
    out = tmp_path / "out"
    out.mkdir()
    name = _backend().build_wheel(str(out), {"dll": str(tmp_path / "in.dll")})
    assert name == f"qk42-{qk42.__version__}-py3-none-{platform}.whl"
    dist_info = f"qk42-{qk42.__version__}.dist-info"
    with zipfile.ZipFile(out / name) as wheel:
        assert wheel.read("qk42/qk42.dll") == dll
        wheel_file = wheel.read(f"{dist_info}/WHEEL").decode()
        assert "Root-Is-Purelib: false\n" in wheel_file
        assert f"Tag: py3-none-{platform}\n" in wheel_file
        verify_record(wheel, dist_info)
    # pip's path: the metadata first, then the wheel, told by the environment variable.
    meta = tmp_path / "meta"
    meta.mkdir()
    monkeypatch.setenv("QK42_WHEEL_DLL", str(tmp_path / "in.dll"))
    written = _backend().prepare_metadata_for_build_wheel(str(meta))
    assert (meta / written / "WHEEL").read_text() == wheel_file
    again = tmp_path / "again"
    again.mkdir()
    assert _backend().build_wheel(str(again)) == name
    assert (again / name).read_bytes() == (out / name).read_bytes()
    # Editable installs and source archives are for every platform: no DLL in them.
    assert _backend().build_editable(str(again)).endswith("-py3-none-any.whl")
    sdist = _backend().build_sdist(str(again))
    with tarfile.open(again / sdist) as archive:
        assert not [n for n in archive.getnames() if n.endswith(".dll")]


@pytest.mark.parametrize("data, reason", [
    (_pe(0xAA64), "machine 0xAA64"),      # ARM64: no wheel made for it
    (_pe(0x8664, dll=False), "a Windows program, not a DLL"),
    (b"\x7fELF" + bytes(200), "no MZ header"),
    (_pe(0x8664)[:0x60], "no PE header"),  # cut short inside the headers
    (b"MZ" + bytes(0x3A) + (0xFFFFFFF0).to_bytes(4, "little") + bytes(200), "no PE header"),
    (None, "cannot read the DLL"),
])
def test_windows_wheel_refuses_what_is_no_dll_of_its_machines(tmp_path: Path, data: bytes,
                                                              reason: str) -> None:
    dll = tmp_path / "in.dll"
    if data is not None:
        dll.write_bytes(data)
    with pytest.raises(ValueError, match=reason):
        _backend().build_wheel(str(tmp_path), {"dll": str(dll)})
    assert not list(tmp_path.glob("*.whl"))
