"""Export formats: SymPy, Maxima (run in maxima), Octave, LaTeX and JSON give the same function."""

from __future__ import annotations

import json
import random
import shutil
import subprocess
from fractions import Fraction

import pytest
import sympy

import kavrel
from kavrel import cli
from kavrel.export import export, identifier
from netgen import random_netlist

POINT = {"s": Fraction(3, 7)}


def _formulas(capsys, tmp_path, text: str, *options: str) -> list[str]:
    path = tmp_path / "in.net"
    path.write_text(text)
    assert cli.main(["formulas", str(path), *options]) == 0
    return [line for line in capsys.readouterr().out.splitlines() if not line.startswith(("#", "/*", "%"))]


def _rational_point(names) -> dict[str, Fraction]:
    rng = random.Random(5)
    point = {str(n): Fraction(rng.randint(1, 9), rng.randint(1, 9)) for n in names}
    point.update(POINT)
    return point


@pytest.mark.skipif(shutil.which("maxima") is None, reason="maxima is not installed")
def test_maxima_lines_give_the_sympy_rational_function(capsys, tmp_path):
    rng = random.Random(77)
    netlists = [random_netlist(rng, False) for _ in range(8)]
    text = "".join(n.text for n in netlists)
    sympy_lines = _formulas(capsys, tmp_path, text, "--symbolic")
    maxima_lines = _formulas(capsys, tmp_path, text, "--symbolic", "--format", "maxima")
    assert len(sympy_lines) == len(maxima_lines) > 10
    script = ["display2d: false$"]
    expected = []
    for k, (python_line, maxima_line) in enumerate(zip(sympy_lines, maxima_lines)):
        name, _, rhs = python_line.partition(" = ")
        assert maxima_line.startswith(f"{name} : ") and maxima_line.endswith(";")
        expr = sympy.sympify(rhs)
        point = _rational_point(sorted(str(x) for x in expr.free_symbols))
        value = expr.xreplace({sympy.Symbol(n): sympy.Rational(v.numerator, v.denominator)
                               for n, v in point.items()})
        expected.append(Fraction(int(sympy.fraction(value)[0]), int(sympy.fraction(value)[1])))
        script.append(maxima_line.replace(f"{name} : ", f"f{k} : ratsimp(", 1)[:-1] + ")$")
        substitution = ", ".join(f"{n}={v.numerator}/{v.denominator}" for n, v in point.items())
        script.append(f'print("R", {k}, num(rat(subst([{substitution}], f{k}))), '
                      f'denom(rat(subst([{substitution}], f{k}))))$')
    completed = subprocess.run(["maxima", "--very-quiet", "--batch-string", "\n".join(script)],
                               capture_output=True, text=True, timeout=120)
    got = {}
    for line in completed.stdout.splitlines():
        parts = line.split()
        if len(parts) == 4 and parts[0] == "R":
            got[int(parts[1])] = Fraction(int(parts[2]), int(parts[3]))
    assert got == dict(enumerate(expected)), completed.stdout[-2000:]


def test_every_format_writes_one_named_line():
    [result] = kavrel.analyse("r1 1 2\nc1 2 0\nre 2 0\nf 1 0 2 0\np g21\ne\n")
    function = result["g21"]
    lines = {fmt: export(function, fmt) for fmt in ("sympy", "latex", "maxima", "octave", "json")}
    assert all("\n" not in line for line in lines.values())
    assert lines["sympy"].startswith("g21 = ")
    assert lines["maxima"].startswith("g21 : ") and lines["maxima"].endswith(";")
    assert lines["octave"].startswith("g21 = ") and lines["octave"].endswith(";") and "./" in lines["octave"]
    assert lines["latex"].startswith("g_{21} = \\frac{")
    # "re" is a SymPy function; the SymPy line renames the symbol so that sympify reads a symbol
    expr = sympy.sympify(lines["sympy"].partition(" = ")[2])
    assert {str(x) for x in expr.free_symbols} == {"r1", "c1", "re_", "s"}
    r1, c1, re_, s = sympy.symbols("r1 c1 re_ s")
    assert sympy.simplify(expr - re_ / (r1 + re_ + s * c1 * r1 * re_)) == 0
    record = json.loads(lines["json"])
    assert record["name"] == "g21" and record["undefined"] is False
    assert record["numerator"] == [{"power": 0, "coefficient": 1, "symbols": {"re": 1}}]
    assert sorted((t["power"], sorted(t["symbols"].items())) for t in record["denominator"]) == [
        (0, [("r1", 1)]), (0, [("re", 1)]), (1, [("c1", 1), ("r1", 1), ("re", 1)])]
    # Octave: evaluate the line element-wise with numbers
    octave = lines["octave"].partition(" = ")[2].rstrip(";").replace(".*", "*").replace("./", "/")
    assert eval(octave, {"r1": 2.0, "c1": 3.0, "re": 5.0, "s": 0.5}) == pytest.approx(5 / (2 + 5 + 0.5 * 30))


def test_undefined_function_is_a_comment(capsys, tmp_path):
    lines = _formulas(capsys, tmp_path, "r1 1 0\nf 1 0 2 0\np g21\ne\n")
    assert lines == []
    path = tmp_path / "in.net"
    cli.main(["formulas", str(path)])
    assert capsys.readouterr().out == "# g21: undefined (denominator is zero)\n"


def test_values_are_substituted_at_full_precision(capsys, tmp_path):
    [line] = _formulas(capsys, tmp_path, "r1 1 2\nc1 2 0\nf 1 0 2 0\np g21\ne\n", "--values",
                       "r1=4.7k,c1=3.3n")
    expr = sympy.sympify(line.partition(" = ")[2])
    s = sympy.Symbol("s")
    assert complex(expr.subs(s, 2j)) == pytest.approx(1 / (1 + 2j * 4700 * 3.3e-9), rel=1e-15)
    # a larger function than the limit is not written, and the line says so
    lines = capsys.readouterr()
    path = tmp_path / "in.net"
    cli.main(["formulas", str(path), "--max-terms", "1", "--symbolic"])
    assert "more than the limit of 1" in capsys.readouterr().out


def test_simplify_cancels_the_common_factor(capsys, tmp_path):
    # the balanced bridge's z11 shares no factor, but this ladder's g21 at port 2 = port 1 does
    [line] = _formulas(capsys, tmp_path, "r1 1 2\nr2 2 0\nc1 1 2\nc2 2 0\nf 1 0 2 0\np g21\ne\n",
                       "--symbolic", "--simplify")
    expr = sympy.sympify(line.partition(" = ")[2])
    num, den = sympy.fraction(sympy.together(expr))
    r1, r2, c1, c2, s = sympy.symbols("r1 r2 c1 c2 s")
    reference = (1 / r2 + s * c2) ** -1 / ((1 / r2 + s * c2) ** -1 + (1 / r1 + s * c1) ** -1)
    assert sympy.simplify(expr - reference) == 0
    assert sympy.gcd(sympy.Poly(num, s), sympy.Poly(den, s)).degree() == 0
    lowest = sympy.Poly(den, s).all_coeffs()[-1]
    assert sympy.Poly(lowest, r1, r2, c1, c2).LC() > 0


def test_identifiers_are_sanitized():
    assert identifier("X1.R2", "sympy") == "X1_R2"
    assert identifier("lambda", "sympy") == "lambda_"
    assert identifier("end", "octave") == "end_"
    assert identifier("do", "maxima") == "do_"
