"""Reading kavrel's output: both readers agree, large functions, memory failures."""

from __future__ import annotations

import math
import os
import stat

import numpy as np
import pytest

import kavrel
import kavrel.terms as terms
import mna


def _ladder(sections: int) -> tuple[str, mna.Circuit]:
    text = "".join(f"r{k} {k} {k + 1}\nc{k} {k + 1} 0\n" for k in range(1, sections + 1))
    text += f"f 1 0 {sections + 1} 0\np z21\np A\nend\n"
    circuit = mna.Circuit([], (1, 0, sections + 1, 0))
    for k in range(1, sections + 1):
        circuit.elements.append(mna.Element("r", (k, k + 1), 1.0 + 0.1 * k))
        circuit.elements.append(mna.Element("c", (k + 1, 0), 0.5 + 0.05 * k))
    return text, circuit


def _values(circuit: mna.Circuit) -> dict[str, float]:
    counts = {"r": 0, "c": 0}
    values = {}
    for element in circuit.elements:
        counts[element.kind] += 1
        values[f"{element.kind}{counts[element.kind]}"] = element.value
    return values


def test_vectorised_and_plain_readers_agree_and_match_the_oracle(monkeypatch):
    text, circuit = _ladder(8)
    monkeypatch.setattr(terms, "_SMALL_REGION", 0)
    monkeypatch.setattr(terms, "_CHUNK", 5000)
    plain_reader = terms._parse_region_python

    def refuse(*_):
        raise AssertionError("the vectorised reader fell back")

    monkeypatch.setattr(terms, "_parse_region_python", refuse)
    [fast] = kavrel.analyse(text)
    monkeypatch.setattr(terms, "_parse_region_python", plain_reader)
    monkeypatch.setattr(terms, "_SMALL_REGION", 1 << 40)
    [plain] = kavrel.analyse(text)
    for name in ("z21", "A"):
        a, b = fast[name], plain[name]
        assert a.symbols == b.symbols
        for x, y in ((a.numerator, b.numerator), (a.denominator, b.denominator)):
            order_x = np.lexsort(np.column_stack([x.powers, x.exponents]).T)
            order_y = np.lexsort(np.column_stack([y.powers, y.exponents]).T)
            assert np.array_equal(x.exponents[order_x], y.exponents[order_y])
            assert np.array_equal(x.coeffs[order_x], y.coeffs[order_y])
        values = _values(circuit)
        s = complex(0.3, 1.7)
        expected = mna.parameter(circuit, name, s)
        assert a.evaluate(values, s=s) == pytest.approx(expected, rel=1e-9)
    assert fast["z21"].denominator.term_count > 900


def test_exponents_and_long_names_are_read(monkeypatch):
    # gm elements in parallel raise powers; long names need the second packed word
    text = ("gmtransfer01 2 0 1 0\ngmtransfer02 2 0 1 0\ncapacitance1 2 0\nresistance11 1 2\n"
            "gyrator_1 2 0 3 0\nc2 3 0\nf 1 0 2 0\np z11\np y21\ne\n")
    circuit = mna.Circuit([mna.Element("gm", (2, 0, 1, 0), 1.5), mna.Element("gm", (2, 0, 1, 0), 0.7),
                           mna.Element("c", (2, 0), 2.0), mna.Element("r", (1, 2), 3.0),
                           mna.Element("gy", (2, 0, 3, 0), 1.3), mna.Element("c", (3, 0), 0.4)])
    values = {"gmtransfer01": 1.5, "gmtransfer02": 0.7, "capacitance1": 2.0, "resistance11": 3.0,
              "gyrator_1": 1.3, "c2": 0.4}
    for small in (0, 1 << 40):
        monkeypatch.setattr(terms, "_SMALL_REGION", small)
        [result] = kavrel.analyse(text)
        for name in ("z11", "y21"):
            function = result[name]
            assert function.evaluate(values, s=0.9j) == pytest.approx(mna.parameter(circuit, name, 0.9j), rel=1e-9)
    assert max(int(result["z11"].denominator.exponents.max()), int(result["z11"].numerator.exponents.max())) >= 2


def _fake_kavrel(tmp_path, output: str) -> str:
    script = tmp_path / "fake-kavrel"
    data = tmp_path / "output.txt"
    data.write_text(output)
    script.write_text(f"#!/bin/sh\ncat >/dev/null\ncat '{data}'\n")
    script.chmod(script.stat().st_mode | stat.S_IXUSR)
    return str(script)


def test_functions_missing_for_want_of_memory_are_reported(tmp_path):
    # z11 needs V, whose evaluation failed; g21 printed normally
    output = ("{program file name kavrel}\n\ninput data:\nr1 1 2 r2 2 0 f 1 0 2 0 p g21 p z11 e\n\n"
              "insufficient memory for combining admittance terms\nraw i-trees  evaluated:        3\n"
              "qualified common trees:        2\n"
              "insufficient memory to buffer common trees; remainder of function evaluation skipped\n"
              " Function:\n g( 2, 0; 1, 0) = v( 2, 0)/v( 1, 0) for i( 2, 0)=0\n\n Numerator:\n\n"
              " + s^0  (\n         1 r2   \n        )\n\n Denominator:\n\n + s^0  (\n         1 r1   \n"
              "         1 r2   \n        )\n\n End:\n\n\ninput data:\n\n{elapsed time: 0/1000 sec.}\n")
    [result] = kavrel.analyse("r1 1 2 r2 2 0 f 1 0 2 0 p g21 p z11 e", executable=_fake_kavrel(tmp_path, output))
    assert result.missing == ["z11"]
    assert "insufficient memory" in result["z11"].error
    with pytest.raises(kavrel.FunctionNotComputed):
        result["z11"].evaluate({"r1": 1, "r2": 1}, s=1)
    assert result["g21"].evaluate({"r1": 1.0, "r2": 3.0}, s=1) == pytest.approx(0.75)


def test_a_copy_failure_after_the_header_is_reported(tmp_path):
    output = ("{program file name kavrel}\n\ninput data:\nr1 1 2 r2 2 0 f 1 0 2 0 p g21 e\n\n"
              " Function:\n g( 2, 0; 1, 0) = v( 2, 0)/v( 1, 0) for i( 2, 0)=0\ncan't allocate space for termlist\n"
              "\ninput data:\n\n{elapsed time: 0/1000 sec.}\n")
    [result] = kavrel.analyse("r1 1 2 r2 2 0 f 1 0 2 0 p g21 e", executable=_fake_kavrel(tmp_path, output))
    assert result.missing == ["g21"]
    assert "can't allocate space for termlist" in result["g21"].error


def test_sympy_expressions_are_refused_above_the_limit():
    text, _ = _ladder(6)
    [result] = kavrel.analyse(text)
    function = result["z21"]
    with pytest.raises(kavrel.TooLargeError):
        function.expr(limit=10)
    assert function.expr(limit=None) is not None


def test_values_for_every_element_collapse_the_terms():
    text, circuit = _ladder(10)
    [result] = kavrel.analyse(text)
    function = result["z21"]
    values = _values(circuit)
    numeric = function.substituted(values)
    assert numeric.symbols == ()
    assert numeric.denominator.term_count <= 11
    freqs = np.logspace(-2, 1, 7)
    expected = [mna.parameter(circuit, "z21", 2j * math.pi * f) for f in freqs]
    assert function.response(freqs, values) == pytest.approx(np.array(expected), rel=1e-9)
    assert numeric.response(freqs) == pytest.approx(np.array(expected), rel=1e-9)
