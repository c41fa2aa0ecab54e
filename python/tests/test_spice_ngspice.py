"""Decks converted to kavrel netlists agree with ngspice's AC analysis.

Each deck under decks/ carries a line ``* check: port2=P,N param=NAME
expr=EXPR [port1=P,N] [tol=T]``: ngspice evaluates EXPR (the parameter's
defining experiment, made by the deck's own sources: a 1 V or 1 A AC drive at
port 1, a 0 V source as the short at port 2) at the deck's AC frequencies, and
the converted netlist's function must match it.
"""

from __future__ import annotations

import os
import re
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest

import kavrel
from kavrel.spice import read_deck_file

DECKS = Path(__file__).with_name("decks")
ALL_DECKS = sorted(DECKS.glob("*.cir"))

# Passive and exactly modelled active decks: ngspice's sparse LU solution and
# kavrel's polynomials agree to rounding (about 1e-12); 1e-8 leaves margin near
# a notch.  Decks whose ideal op amp kavrel models as a nullor while ngspice
# uses a VCVS of gain A >= 1e9 differ by about (loop noise gain)/A, so those
# state tol=1e-6.
DEFAULT_TOLERANCE = 1e-8

pytestmark = pytest.mark.skipif(shutil.which("ngspice") is None, reason="ngspice not installed")


def kavrel_executable() -> str:
    if os.environ.get("KAVREL"):
        return os.environ["KAVREL"]
    built = Path(__file__).resolve().parents[2] / "build" / "kavrel"
    return str(built) if built.exists() else (shutil.which("kavrel") or "kavrel")


def check_line(path: Path) -> dict[str, str]:
    for line in path.read_text().splitlines():
        if line.startswith("* check:"):
            return dict(item.split("=", 1) for item in line[len("* check:"):].split())
    raise AssertionError(f"{path.name} has no check line")


def pair(text: str | None) -> tuple[str, str] | None:
    return tuple(text.split(",")) if text else None


def ngspice_reference(path: Path, expression: str, tmp_path: Path) -> tuple[np.ndarray, np.ndarray]:
    out = tmp_path / "ac.txt"
    control = (".control\nset numdgt=15\nrun\n"
               f"let kavrel_check = {expression}\nwrdata {out} kavrel_check\nquit\n.endc\n")
    text = path.read_text()
    text = re.sub(r"^\.end\s*$", control + ".end", text, flags=re.IGNORECASE | re.MULTILINE)
    deck = tmp_path / path.name
    deck.write_text(text)
    run = subprocess.run(["ngspice", "-b", str(deck)], capture_output=True, text=True, timeout=60)
    assert out.exists(), run.stdout + run.stderr
    rows = np.loadtxt(out, ndmin=2)
    return rows[:, 0], rows[:, 1] + 1j * rows[:, 2]


def echo_lines(netlist: str) -> list[str]:
    output = subprocess.run([kavrel_executable()], input=netlist, capture_output=True,
                            text=True, timeout=60).stdout
    echo = output.split("input data:\n", 1)[1]
    return [line for line in echo.split("\n\n")[0].splitlines()]


def test_there_are_enough_decks():
    assert len(ALL_DECKS) >= 20


@pytest.mark.parametrize("path", ALL_DECKS, ids=lambda p: p.stem)
def test_deck_matches_ngspice(path: Path, tmp_path: Path):
    check = check_line(path)
    param = check["param"]
    conversion = read_deck_file(str(path), port1=pair(check.get("port1")),
                                port2=pair(check["port2"]), params=[param])
    freqs, reference = ngspice_reference(path, check["expr"], tmp_path)
    assert len(freqs) >= 12
    [result] = kavrel.analyse(conversion.netlist, executable=kavrel_executable(),
                              values=conversion.values)
    response = result.functions[param].response(freqs)
    tolerance = float(check.get("tol", DEFAULT_TOLERANCE))
    error = np.abs(response - reference) / np.maximum(np.abs(reference), 1e-300)
    assert error.max() <= tolerance, (f"worst relative error {error.max():.3g} at "
                                      f"{freqs[error.argmax()]:g} Hz\n{conversion.netlist}")


@pytest.mark.parametrize("path", ALL_DECKS, ids=lambda p: p.stem)
def test_converted_deck_reads_without_messages(path: Path):
    check = check_line(path)
    for symbolic in (False, True):
        conversion = read_deck_file(str(path), port1=pair(check.get("port1")),
                                    port2=pair(check["port2"]), params=[check["param"]],
                                    symbolic=symbolic)
        written = conversion.netlist.splitlines()
        echoed = echo_lines(conversion.netlist)
        # The echo repeats the input line for line; a reader message adds lines.
        assert len(echoed) == len(written), "\n".join(echoed)
        for mine, echo in zip(written, echoed):
            assert echo.split()[0] == mine.split()[0]
