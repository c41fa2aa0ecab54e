"""Every formulas line of random netlists equals the independent nodal analysis."""

from __future__ import annotations

import random

import pytest
import sympy

import kavrel
import mna
from kavrel import cli
from netgen import ALL_PARAMS, random_netlist

S_POINT = complex(0.37, 0.81)


def _close(a: complex, b: complex) -> bool:
    return abs(a - b) <= 1e-9 * max(abs(a), abs(b)) + 1e-13


def _formulas(capsys, tmp_path, text: str, *options: str) -> dict[int, dict[str, str]]:
    path = tmp_path / "random.net"
    path.write_text(text)
    assert cli.main(["formulas", str(path), "--max-terms", "0", *options]) == 0
    lines: dict[int, dict[str, str]] = {}
    current = 1
    for line in capsys.readouterr().out.splitlines():
        if line.startswith("# netlist "):
            current = int(line.split()[2])
            continue
        name = line.lstrip("# ").split(":")[0].split(" = ")[0]
        lines.setdefault(current, {})[name] = line
    return lines


def _evaluate(line: str, values: dict[str, float]) -> complex:
    name, _, expression = line.partition(" = ")
    expr = sympy.sympify(expression)
    assignment = {sym: sympy.Float(values[str(sym)], 17) for sym in expr.free_symbols if str(sym) != "s"}
    assignment[sympy.Symbol("s")] = sympy.Float(S_POINT.real, 17) + sympy.I * sympy.Float(S_POINT.imag, 17)
    return complex(sympy.N(expr.xreplace(assignment), 17))


@pytest.mark.parametrize("with_values", [False, True])
def test_random_netlists_match_nodal_analysis(capsys, tmp_path, with_values):
    rng = random.Random(9 + with_values)
    netlists = []
    for k in range(110):
        params = list(ALL_PARAMS) if k < 4 else None
        netlists.append(random_netlist(rng, with_values, params))
    lines = _formulas(capsys, tmp_path, "".join(n.text for n in netlists))
    compared = undefined = 0
    seen_kinds: set[str] = set()
    for index, netlist in enumerate(netlists, start=1):
        printed = lines[index]
        assert set(printed) == set(netlist.params)
        for name in netlist.params:
            line = printed[name]
            expected = mna.parameter(netlist.circuit, name, S_POINT, netlist.reference())
            if "undefined (denominator is zero)" in line:
                undefined += 1
                assert expected is None or abs(expected) > 1e9, (netlist.text, name)
                continue
            assert line.startswith(f"{name} = ")
            if expected is None:
                continue
            got = _evaluate(line, netlist.values)
            assert _close(got, expected), (netlist.text, line, got, expected)
            compared += 1
            seen_kinds.update(e.kind for e in netlist.circuit.elements)
            if with_values:
                # the values given in the netlist went in: their symbols are gone
                assert not any(f"{n}" in sympy.sympify(line.partition(" = ")[2]).free_symbols
                               for n in netlist.in_netlist)
                assert not ({str(x) for x in sympy.sympify(line.partition(" = ")[2]).free_symbols}
                            & netlist.in_netlist)
    assert compared > 300
    assert seen_kinds >= {"r", "l", "c", "g", "y", "z", "gm", "gy", "o", "u", "b", "rm", "m"}


def test_library_functions_match_nodal_analysis():
    rng = random.Random(21)
    netlists = [random_netlist(rng, True, list(ALL_PARAMS)) for _ in range(12)]
    results = kavrel.analyse("".join(n.text for n in netlists))
    compared = 0
    for netlist, result in zip(netlists, results):
        for name in ALL_PARAMS:
            function = result.function(name)
            expected = mna.parameter(netlist.circuit, name, S_POINT, netlist.reference())
            if function.undefined or expected is None:
                continue
            values = {k: v for k, v in netlist.values.items() if k not in netlist.in_netlist}
            got = function.evaluate(values, s=S_POINT)
            assert _close(got, expected), (netlist.text, name)
            f = 3.3
            response = function.response([f], values)[0]
            assert _close(response, function.evaluate(values, f=f))
            compared += 1
    assert compared > 100
