"""Command line: bad input gets one message and status 1, and nothing is written half."""

from __future__ import annotations

import os
import subprocess
import sys

import pytest

from kavrel import cli

PYTHON_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RC = "r1 1 2\nc1 2 0 v 1\nf 1 0 2 0\np g21\np z11\ne\n"


@pytest.fixture
def rc_file(tmp_path):
    path = tmp_path / "rc.net"
    path.write_text(RC)
    return path


@pytest.mark.parametrize("arguments, message", [
    (["formulas", "{file}", "--values", "r1=abc"], "not a number"),
    (["formulas", "{file}", "--values", "r1"], "malformed value"),
    (["formulas", "{file}", "--values", "q9=1"], "no element named"),
    (["formulas", "{file}", "--param", "y21"], "no parameter y21"),
    (["formulas", "{file}", "--approximate", "0.1"], "needs --band"),
    (["bode", "{file}", "--param", "g21", "--output", "{dir}/plot.svg", "--csv", "{dir}/plot.csv"],
     "needs values for plotting: r1"),
    (["bode", "{file}", "--param", "h11", "--values", "r1=1", "--output", "{dir}/plot.svg"], "no parameter 'h11'"),
    (["bode", "{file}", "--param", "g21", "--values", "r1=1", "--output", "{dir}/plot.pdf"], ".svg or .png"),
    (["poles", "{file}", "--param", "g21"], "needs values for r1"),
    (["poles", "{dir}/missing.net", "--param", "g21"], "cannot read"),
    (["formulas", "{file}", "--format", "word"], "invalid choice"),
])
def test_bad_input_gives_one_message_and_status_1(capfd, tmp_path, rc_file, arguments, message):
    argv = [a.format(file=rc_file, dir=tmp_path) for a in arguments]
    with pytest.raises(SystemExit) if "invalid choice" in message else _no_exit() as _:
        status = cli.main(argv)
        assert status == 1
    captured = capfd.readouterr()
    assert message in captured.err
    assert captured.out == ""
    assert sorted(p.name for p in tmp_path.iterdir()) == ["rc.net"]


class _no_exit:
    def __enter__(self):
        return self

    def __exit__(self, *exc):
        return False


def test_module_entry_point_runs_from_the_repository(tmp_path, rc_file):
    environment = dict(os.environ, PYTHONPATH=PYTHON_DIR)
    completed = subprocess.run([sys.executable, "-m", "kavrel", "formulas", str(rc_file)],
                               capture_output=True, text=True, env=environment)
    assert completed.returncode == 0, completed.stderr
    name, _, rhs = completed.stdout.splitlines()[0].partition(" = ")
    import sympy
    r1, s = sympy.symbols("r1 s")
    assert name == "g21" and sympy.simplify(sympy.sympify(rhs) - 1 / (1 + r1 * s)) == 0
    bad = subprocess.run([sys.executable, "-m", "kavrel", "formulas", str(rc_file), "--values", "x=1"],
                         capture_output=True, text=True, env=environment)
    assert bad.returncode == 1 and bad.stdout == "" and bad.stderr.count("\n") == 1


def test_stdin_and_run_errors(capfd, monkeypatch):
    import io
    monkeypatch.setattr(sys, "stdin", io.StringIO("r1 1 0 f 1 0 1 0 p z11 e qq 1 2\n"))
    assert cli.main(["formulas"]) == 1
    captured = capfd.readouterr()
    assert "unrecognized element prefix-- 'qq'" in captured.err and captured.out == ""


def test_missing_executable_says_what_to_build(monkeypatch, tmp_path):
    import kavrel
    monkeypatch.setenv("KAVREL", str(tmp_path / "nothing"))
    with pytest.raises(kavrel.KavrelError, match="cmake"):
        kavrel.analyse("r1 1 0 f 1 0 1 0 e")


def test_poles_lists_poles_zeros_f0_and_q(capfd, tmp_path):
    path = tmp_path / "sk.net"
    path.write_text("r1 1 4 v 1\nr2 4 5 v 1\nc1 2 4 v 2\nc2 5 0 v 1\nu1 2 0 5 0 v 1\nf 1 0 2 0\ne\n")
    assert cli.main(["poles", str(path), "--param", "g21", "--plot", str(tmp_path / "pz.png")]) == 0
    lines = capfd.readouterr().out.splitlines()
    poles = [line.split() for line in lines if line.startswith("pole ")]
    assert len(poles) == 2
    for pole in poles:  # w0 = 1/sqrt(2), Q = 1/sqrt(2): poles at -1/2 +- j/2
        assert float(pole[1]) == pytest.approx(-0.5, rel=1e-12)
        assert abs(float(pole[2])) == pytest.approx(0.5, rel=1e-12)
        assert float(pole[4].split("=")[1]) == pytest.approx(2 ** -0.5, rel=1e-12)
    assert (tmp_path / "pz.png").read_bytes()[:4] == b"\x89PNG"
