"""Finding libqk42: QK42_LIBRARY, a copy beside the package, and a clear error when none
loads. Each case in a fresh interpreter, since a process loads the library once."""

from __future__ import annotations

import ctypes.util
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path
from typing import Dict, Optional

import pytest

import qk42
from qk42.testing import Simulator

PYTHON_DIR = Path(__file__).resolve().parents[1]


def _run(code: str, library: Optional[str],
         path: Path = PYTHON_DIR) -> "subprocess.CompletedProcess[str]":
    env: Dict[str, str] = {k: v for k, v in os.environ.items() if k != "QK42_LIBRARY"}
    env["PYTHONPATH"] = str(path)
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    if library is not None:
        env["QK42_LIBRARY"] = library
    # In `path`: python -c puts the working directory first on sys.path.
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                          cwd=path, timeout=30)


OPEN = "import qk42\ntry:\n    qk42.open('/dev/null')\nexcept OSError as e:\n" \
       "    print(type(e).__name__, isinstance(e, OSError)); print(e)\n"


def test_library_path_that_does_not_load(tmp_path: Path) -> None:
    missing = str(tmp_path / "libqk42.so.1")
    result = _run(OPEN, missing)
    assert result.returncode == 0, result.stderr
    kind, message = result.stdout.split("\n", 1)
    assert kind == "LibraryNotFound True"
    assert f"QK42_LIBRARY={missing}" in message


def test_library_that_is_not_libqk42() -> None:
    other = ctypes.util.find_library("m")
    assert other is not None
    result = _run(OPEN, other)
    assert "LibraryNotFound" in result.stdout and "no function qk42_open" in result.stdout


def test_no_library_anywhere_says_where_it_looked(tmp_path: Path) -> None:
    if ctypes.util.find_library("qk42"):
        pytest.skip("libqk42 is installed on this machine")
    copy = tmp_path / "qk42"
    shutil.copytree(PYTHON_DIR / "qk42", copy, ignore=shutil.ignore_patterns("__pycache__"))
    result = _run(OPEN, None, tmp_path)
    kind, message = result.stdout.split("\n", 1)
    assert kind == "LibraryNotFound True"
    assert str(copy / "libqk42.so.1") in message  # beside the package
    assert "set QK42_LIBRARY" in message


def test_copy_beside_the_package_is_used(tmp_path: Path, qk42_simulator: Simulator) -> None:
    copy = tmp_path / "qk42"
    shutil.copytree(PYTHON_DIR / "qk42", copy, ignore=shutil.ignore_patterns("__pycache__"))
    shutil.copy(os.environ["QK42_LIBRARY"], copy / "libqk42.so.1")
    code = ("import qk42, qk42._library as l\n"
            f"with qk42.open({qk42_simulator.device!r}) as line:\n"
            "    print(line.instrument(1).version().text, l.library()._name)\n")
    result = _run(code, None, tmp_path)
    assert result.stdout.split() == ["1.2", str(copy / "libqk42.so.1")], result.stderr


def test_import_needs_no_library() -> None:
    # Loading waits for the first open: `import qk42` (and pytest's plugin) work without it.
    result = _run("import qk42, qk42.testing; print(qk42.__version__)", "/nonexistent")
    assert result.returncode == 0 and result.stdout.strip() == qk42.__version__


def test_package_version_is_the_project_version() -> None:
    cmake = (PYTHON_DIR.parent / "CMakeLists.txt").read_text()
    match = re.search(r"project\(QK42RT VERSION ([0-9.]+)", cmake)
    assert match is not None
    assert qk42.__version__ == match.group(1)
