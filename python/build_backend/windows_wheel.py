"""Builds the Windows wheel of one qk42.dll, offline, with the package's own backend.

usage: python3 python/build_backend/windows_wheel.py DLL DIRECTORY

The wheel (qk42-VERSION-py3-none-win_amd64.whl or -win32.whl, after the DLL's machine) is
written into DIRECTORY, made if missing, and its path printed. The same as
`pip wheel --no-index --no-deps --config-settings dll=DLL -w DIRECTORY python`, without pip.
"""

from __future__ import annotations

import sys
from pathlib import Path

sys.dont_write_bytecode = True  # run from a build: no __pycache__ left in the source tree
import qk42_backend  # noqa: E402  beside this file, first on sys.path when run as a script


def main(argv: list) -> int:
    if len(argv) != 3 or argv[1].startswith("-"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    dll, directory = argv[1], Path(argv[2])
    try:
        directory.mkdir(parents=True, exist_ok=True)
        name = qk42_backend.build_wheel(str(directory), {qk42_backend.DLL_SETTING: dll})
    except (OSError, ValueError) as e:
        print(f"windows_wheel: {e}", file=sys.stderr)
        return 1
    print(directory / name)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
