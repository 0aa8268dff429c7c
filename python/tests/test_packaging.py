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
        record = list(csv.reader(io.StringIO(wheel.read(f"{dist_info}/RECORD").decode())))
        assert sorted(row[0] for row in record) == sorted(names)
        for path, digest, size in record:
            if path.endswith("RECORD"):
                continue
            data = wheel.read(path)
            expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
            assert (digest, int(size)) == ("sha256=" + expected.decode(), len(data)), path
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
