#!/usr/bin/python3
"""Times the Python package beside kavrel itself on the large benchmark networks.

For each network (the RC ladder and resistor grid of bench/benchmark.cpp, with a
value for every element) it runs, each in a fresh process:
  kavrel        the executable alone on the netlist without its values (what the
                package hands it),
  formulas      python3 -m kavrel formulas (values substituted),
  bode          python3 -m kavrel bode with 200 points to a PNG,
and prints wall time and peak resident memory of each. Not a test.

  bench/python_bench.py [--max-sections N] [--grid-side N]
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "python"))

from kavrel.netlist import prepare  # noqa: E402
from kavrel.runner import find_executable  # noqa: E402


def rc_ladder(sections: int) -> tuple[str, str]:
    text = "".join(f"r{k} {k} {k + 1} v 1000\nc{k} {k + 1} 0 v 1e-6\n" for k in range(1, sections + 1))
    return text + f"f 1 0 {sections + 1} 0\np z21\nend\n", "z21"


def resistor_grid(side: int) -> tuple[str, str]:
    def label(row: int, col: int) -> int:
        return row * side + col + 1
    text, count = "", 0
    for row in range(side):
        for col in range(side):
            if col + 1 < side:
                count += 1
                text += f"r{count} {label(row, col)} {label(row, col + 1)} v {100 + count}\n"
            if row + 1 < side:
                count += 1
                text += f"r{count} {label(row, col)} {label(row + 1, col)} v {100 + count}\n"
    bottom_left = label(side - 1, 0)
    text += f"f {label(0, 0)} {bottom_left} {label(side - 1, side - 1)} {bottom_left}\np z21\nend\n"
    return text, "z21"


def peak_of(command: list[str], stdin_text: str | None = None) -> tuple[float, float, int]:
    """Wall seconds, peak resident MiB and output bytes of the command, run by a wrapper process."""
    wrapper = [sys.executable, "-c",
               "import os,resource,subprocess,sys,time;"
               "t=time.perf_counter();p=subprocess.run(sys.argv[1:],stdin=sys.stdin,stdout=subprocess.PIPE);"
               "d=time.perf_counter()-t;u=resource.getrusage(resource.RUSAGE_CHILDREN);"
               "sys.stderr.write(f'{d} {u.ru_maxrss} {len(p.stdout)} {p.returncode}\\n')"] + command
    completed = subprocess.run(wrapper, input=(stdin_text or "").encode(), capture_output=True)
    seconds, peak_kib, size, status = completed.stderr.decode().split()[-4:]
    if int(status):
        raise SystemExit(f"{' '.join(command)} failed")
    return float(seconds), int(peak_kib) / 1024, int(size)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--max-sections", type=int, default=16)
    parser.add_argument("--grid-side", type=int, default=4)
    args = parser.parse_args()
    executable = find_executable()
    networks = [(f"rc_ladder_{args.max_sections}", *rc_ladder(args.max_sections)),
                (f"grid_{args.grid_side}x{args.grid_side}", *resistor_grid(args.grid_side))]
    environment = dict(os.environ, PYTHONPATH=str(ROOT / "python"))
    os.environ.update(environment)  # the wrapper passes it on
    print(f"{'network':<16} {'step':<9} {'seconds':>8} {'peak MiB':>9} {'output MB':>10}")
    with tempfile.TemporaryDirectory() as directory:
        for name, text, param in networks:
            path = Path(directory) / f"{name}.net"
            path.write_text(text)
            symbolic = prepare(text).text
            rows = [
                ("kavrel", peak_of([executable], symbolic)),
                ("formulas", peak_of([sys.executable, "-m", "kavrel", "formulas", str(path)])),
                ("bode", peak_of([sys.executable, "-m", "kavrel", "bode", str(path), "--param", param,
                                  "--points", "200", "--output", str(Path(directory) / "bode.png")])),
            ]
            for step, (seconds, peak, size) in rows:
                print(f"{name:<16} {step:<9} {seconds:8.2f} {peak:9.0f} {size / 1e6:10.1f}")


if __name__ == "__main__":
    main()
