"""Bode CSV, poles and -3 dB points of textbook filters against their closed forms."""

from __future__ import annotations

import csv
import math

import numpy as np
import pytest

import kavrel
from kavrel import cli
from kavrel.numeric import bandwidth_3db, dc_gain, poles_zeros

RC = "r1 1 2 v 1000\nc1 2 0\nf 1 0 2 0\np g21\ne\n"
SALLEN_KEY_U = "r1 1 4\nr2 4 5\nc1 2 4\nc2 5 0\nu1 2 0 5 0 v 1\nf 1 0 2 0\np g21\ne\n"
SALLEN_KEY_O = "r1 1 4\nr2 4 5\nc1 2 4\nc2 5 0\no1 2 0 5 2\nf 1 0 2 0\np g21\ne\n"
TWIN_T = "r1 1 3\nr2 3 2\nc3 3 0\nc1 1 4\nc2 4 2\nr3 4 0\nf 1 0 2 0\np g21\ne\n"


def _bode_csv(tmp_path, netlist: str, values: str, *extra: str) -> list[dict[str, float]]:
    source = tmp_path / "filter.net"
    source.write_text(netlist)
    table = tmp_path / "bode.csv"
    status = cli.main(["bode", str(source), "--param", "g21", "--values", values, "--from", "10",
                       "--to", "1meg", "--points", "61", "--output", str(tmp_path / "bode.svg"),
                       "--csv", str(table), *extra])
    assert status == 0
    assert (tmp_path / "bode.svg").read_text().lstrip().startswith(("<?xml", "<svg"))
    with open(table) as handle:
        rows = list(csv.DictReader(handle))
    assert list(rows[0]) == ["f_hz", "mag_db", "phase_deg"]
    return [{k: float(v) for k, v in row.items()} for row in rows]


def _check(rows, closed_form):
    freqs = np.logspace(1, 6, 61)
    assert [r["f_hz"] for r in rows] == pytest.approx(freqs, rel=1e-12)
    for row in rows:
        h = closed_form(2j * math.pi * row["f_hz"])
        assert row["mag_db"] == pytest.approx(20 * math.log10(abs(h)), abs=1e-9)
        difference = (row["phase_deg"] - math.degrees(np.angle(h)) + 180) % 360 - 180
        assert abs(difference) < 1e-9


def test_rc_lowpass(tmp_path):
    rows = _bode_csv(tmp_path, RC, "c1=100n")
    _check(rows, lambda s: 1 / (1 + s * 1000 * 100e-9))


@pytest.mark.parametrize("netlist", [SALLEN_KEY_U, SALLEN_KEY_O])
def test_butterworth_sallen_key(tmp_path, netlist):
    r, c2 = 10e3, 10e-9
    c1 = 2 * c2  # unity gain, equal resistors: Q = sqrt(c1 c2) / (2 c2) = 1/sqrt 2
    rows = _bode_csv(tmp_path, netlist, "r1=10k,r2=10k,c1=20n,c2=10n")
    _check(rows, lambda s: 1 / (1 + s * c2 * 2 * r + s * s * r * r * c1 * c2))
    [result] = kavrel.analyse(netlist)
    function = result["g21"]
    values = {"r1": r, "r2": r, "c1": c1, "c2": c2}
    w0 = 1 / (r * math.sqrt(c1 * c2))
    pz = poles_zeros(function, values)
    assert pz.zeros == []
    assert len(pz.poles) == 2
    for pole in pz.poles:
        assert pole.real == pytest.approx(-w0 / math.sqrt(2), rel=1e-12)
        assert abs(pole.imag) == pytest.approx(w0 / math.sqrt(2), rel=1e-12)
        assert pole.q == pytest.approx(1 / math.sqrt(2), rel=1e-12)
        assert pole.f0 == pytest.approx(w0 / (2 * math.pi), rel=1e-12)
    assert dc_gain(function, values) == pytest.approx(1.0, rel=1e-15)
    assert bandwidth_3db(function, values) == pytest.approx(w0 / (2 * math.pi), rel=1e-10)


def test_twin_t_notch(tmp_path):
    r, c = 10e3, 10e-9
    rows = _bode_csv(tmp_path, TWIN_T, "r1=10k,r2=10k,r3=5k,c1=10n,c2=10n,c3=20n")
    _check(rows, lambda s: (1 + (s * r * c) ** 2) / (1 + 4 * s * r * c + (s * r * c) ** 2))
    [result] = kavrel.analyse(TWIN_T)
    pz = poles_zeros(result["g21"], {"r1": r, "r2": r, "r3": r / 2, "c1": c, "c2": c, "c3": 2 * c})
    # the notch: a pair of zeros on the imaginary axis at 1/(RC); the printed (unreduced)
    # function also has a real zero that a pole cancels
    pair = [z for z in pz.zeros if z.q is not None]
    assert len(pair) == 2
    for zero in pair:
        assert abs(zero.value) == pytest.approx(1 / (r * c), rel=1e-9)
        assert abs(zero.real) < 1e-6 / (r * c)
    for zero in (z for z in pz.zeros if z.q is None):
        assert min(abs(p.value - zero.value) for p in pz.poles) < 1e-6 * abs(zero.value)


def test_several_parameters_share_one_csv(tmp_path):
    source = tmp_path / "rc.net"
    source.write_text("r1 1 2 v 1000\nc1 2 0\nf 1 0 2 0\np g21 p y11\ne\n")
    table = tmp_path / "two.csv"
    assert cli.main(["bode", str(source), "--param", "g21", "--param", "y11", "--values", "c1=1u",
                     "--points", "5", "--output", str(tmp_path / "two.png"), "--csv", str(table)]) == 0
    rows = list(csv.reader(open(table)))
    assert rows[0] == ["param", "f_hz", "mag_db", "phase_deg"]
    assert [row[0] for row in rows[1:]] == ["g21"] * 5 + ["y11"] * 5
    assert (tmp_path / "two.png").read_bytes()[:4] == b"\x89PNG"
    for row in rows[1:]:
        s = 2j * math.pi * float(row[1])
        h = 1 / (1 + s * 1e-3) if row[0] == "g21" else 1 / 1000  # y11: port 2 shorted
        assert float(row[2]) == pytest.approx(20 * math.log10(abs(h)), abs=1e-9)
