"""Approximation keeps fewer terms and stays within the tolerance over the band."""

from __future__ import annotations

import math

import numpy as np
import pytest
import sympy

import kavrel
import mna
from kavrel import cli
from kavrel.approximate import approximate

# Common-emitter stage, hybrid-pi model: source rs, base rb, rpi || cpi, cmu, gm, ro, load rl || cl
AMPLIFIER = ("rs 1 2\nrb 2 3\nrpi 3 0\ncpi 3 0\ncmu 3 4\ngm1 4 0 3 0\nro 4 0\nrl 4 0\ncl 4 0\n"
             "re 3 5\nce 5 0\nrc 4 6\nf 1 0 4 0\np g21\ne\n")
AMPLIFIER_VALUES = {"rs": 50.0, "rb": 100.0, "rpi": 2500.0, "cpi": 10e-12, "cmu": 2e-12, "gm1": 0.04,
                    "ro": 50e3, "rl": 5e3, "cl": 1e-12, "re": 1e6, "ce": 1e-15, "rc": 1e9}
AMPLIFIER_ELEMENTS = [("r", (1, 2), "rs"), ("r", (2, 3), "rb"), ("r", (3, 0), "rpi"), ("c", (3, 0), "cpi"),
                      ("c", (3, 4), "cmu"), ("gm", (4, 0, 3, 0), "gm1"), ("r", (4, 0), "ro"),
                      ("r", (4, 0), "rl"), ("c", (4, 0), "cl"), ("r", (3, 5), "re"), ("c", (5, 0), "ce"),
                      ("r", (4, 6), "rc")]

# Two unity-gain Sallen-Key sections with a loading resistor: a dozen elements
FILTER = ("r1 1 2\nr2 2 3\nc1 4 2\nc2 3 0\nu1 4 0 3 0\nr3 4 5\nr4 5 6\nc3 7 5\nc4 6 0\nu2 7 0 6 0\n"
          "rload 7 0\nrleak 3 0\nf 1 0 7 0\np g21\ne\n")
FILTER_VALUES = {"r1": 10e3, "r2": 10e3, "c1": 20e-9, "c2": 10e-9, "u1": 1.0, "r3": 12e3, "r4": 12e3,
                 "c3": 30e-9, "c4": 8e-9, "u2": 1.0, "rload": 1e5, "rleak": 1e8}
FILTER_ELEMENTS = [("r", (1, 2), "r1"), ("r", (2, 3), "r2"), ("c", (4, 2), "c1"), ("c", (3, 0), "c2"),
                   ("u", (4, 0, 3, 0), "u1"), ("r", (4, 5), "r3"), ("r", (5, 6), "r4"), ("c", (7, 5), "c3"),
                   ("c", (6, 0), "c4"), ("u", (7, 0, 6, 0), "u2"), ("r", (7, 0), "rload"), ("r", (3, 0), "rleak")]


def _circuit(elements, values, ports) -> mna.Circuit:
    return mna.Circuit([mna.Element(kind, nodes, values[name]) for kind, nodes, name in elements], ports)


@pytest.mark.parametrize("netlist, values, elements, ports, band", [
    (AMPLIFIER, AMPLIFIER_VALUES, AMPLIFIER_ELEMENTS, (1, 0, 4, 0), (1e3, 1e8)),
    (FILTER, FILTER_VALUES, FILTER_ELEMENTS, (1, 0, 7, 0), (10.0, 1e4)),
])
@pytest.mark.parametrize("tolerance", [0.01, 0.1])
def test_fewer_terms_within_tolerance(monkeypatch, netlist, values, elements, ports, band, tolerance):
    monkeypatch.setattr(mna, "MAX_CONDITION", 1e30)  # element values span many decades here
    [result] = kavrel.analyse(netlist)
    function = result["g21"]
    approximation = approximate(function, tolerance, band, values)
    assert sum(approximation.terms_after) < sum(approximation.terms_before)
    assert approximation.function.term_count == sum(approximation.terms_after)
    # check independently: the printed approximate formula against the nodal analysis
    from kavrel.export import export
    expr = sympy.sympify(export(approximation.function).partition(" = ")[2])
    symbols = sorted(expr.free_symbols, key=str)
    evaluate = sympy.lambdify(symbols, expr, "numpy")
    circuit = _circuit(elements, values, ports)
    for f in np.logspace(math.log10(band[0]), math.log10(band[1]), 37):
        s = 2j * math.pi * f
        arguments = [s if str(x) == "s" else values[str(x).rstrip("_")] for x in symbols]
        exact = mna.parameter(circuit, "g21", s)
        assert abs(abs(evaluate(*arguments) / exact) - 1) <= tolerance * 1.0001
    assert approximation.max_magnitude_error <= tolerance
    assert "terms" in approximation.report()


def test_formulas_command_prints_the_report_and_the_shorter_line(capfd, tmp_path):
    path = tmp_path / "amp.net"
    path.write_text(AMPLIFIER)
    values = ",".join(f"{k}={v!r}" for k, v in AMPLIFIER_VALUES.items())
    assert cli.main(["formulas", str(path), "--values", values, "--approximate", "0.05",
                     "--band", "1k", "100meg"]) == 0
    report, line = capfd.readouterr().out.splitlines()
    assert report.startswith("# g21: approximated at tolerance 0.05")
    assert line.startswith("g21 = ")
    assert "rc" not in {str(x) for x in sympy.sympify(line.partition(" = ")[2]).free_symbols}  # 1 G in series with nothing
