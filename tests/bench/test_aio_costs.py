"""bench/aio_costs.py, as scripts/bench.sh runs it, in a short version: its table and the
figures in it.

Run by CTest (bench_python_clients) with QK42_LIBRARY, QK42RT_SIM and PYTHONPATH set for this
build.
"""

import re
import subprocess
import sys
from pathlib import Path

SCRIPT = Path(__file__).resolve().parents[2] / "bench" / "aio_costs.py"


def test_prints_its_table_with_a_figure_in_every_row():
    done = subprocess.run([sys.executable, str(SCRIPT), "--calls", "50", "--rounds", "3"],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    rows = [line for line in done.stdout.splitlines() if line.startswith("| ")][1:]
    assert len(rows) == 6, done.stdout
    for row in rows:
        assert re.search(r"\| -?\d+(\.\d+)? (µs|ms)? ?(\(-?\d+ µs\) )?\|", row), row
    assert "--pace" in done.stdout
    ratio = float(rows[-1].split("|")[2])
    assert 0 < ratio < 1.0  # gathered lines are not slower than the same readings in turn
