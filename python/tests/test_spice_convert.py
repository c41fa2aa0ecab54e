"""The SPICE reader: names, nodes, values, expressions, ports and every refusal."""

from __future__ import annotations

import math
import subprocess
import sys
from pathlib import Path

import pytest

from kavrel.netlist import read_real_text
from kavrel.spice import SpiceError, convert
from kavrel.spice.expr import ExpressionError, Scope, evaluate
from kavrel.spice.values import value_text

PYTHON_DIR = Path(__file__).resolve().parents[1]


def deck(*lines: str) -> str:
    return "test deck\n" + "\n".join(lines) + "\n.end\n"


def entries(netlist: str) -> dict[str, list[str]]:
    """Element lines of a converted netlist by name (comments and f/p/end left out)."""
    found = {}
    for line in netlist.splitlines():
        if line.startswith("{") or line.split()[0] in ("f", "p", "end"):
            continue
        found[line.split()[0]] = line.split()[1:]
    return found


# names and nodes ------------------------------------------------------------
def test_names_keep_their_kind_and_map_back():
    conversion = convert(deck("V1 in 0 AC 1", "Rmix in a 1k", "R1 a 0 2k", "G1 b 0 a 0 1m",
                              "Rb b 0 1k", "Vc b c 0", "F1 c 0 Vc 2", "H1 d 0 Vc 3", "Rd d 0 1",
                              "E1 e 0 d 0 4", "Re e 0 1", "L1 e 0 1m", "C1 e 0 1n",
                              "L2 c 0 1m", "Kab L1 L2 0.5"),
                         port2=("e", "0"))
    names = conversion.element_names
    assert names["r_Rmix"] == "Rmix" and names["R1"] == "R1"
    assert {names["gm_G1"], names["b_F1"], names["rm_H1"], names["u_E1"], names["m_Kab"]} == \
        {"G1", "F1", "H1", "E1", "Kab"}
    lines = entries(conversion.netlist)
    assert set(lines) == set(names)
    assert conversion.values["m_Kab"] == pytest.approx(0.5e-3, rel=1e-15)


def test_hierarchical_names_are_unique_and_at_most_12_characters():
    conversion = convert(deck(".subckt long_cell a b", "Rverylongname a b 1k", ".ends",
                              "V1 in 0 AC 1", "Xfirst in m long_cell", "Xsecond m out long_cell",
                              "Rverylongname2 out 0 1k"), port2=("out", "0"))
    names = conversion.element_names
    assert set(names.values()) == {"Xfirst.Rverylongname", "Xsecond.Rverylongname",
                                   "Rverylongname2"}
    assert all(len(name) <= 12 and name[0] in "rR" and name[1:2].lower() != "m" for name in names)
    assert len(set(names)) == 3


def test_nodes_ground_and_labels():
    conversion = convert(deck("V1 In GND AC 1", "R1 in 7 1k", "R2 7 mid 1k", "R3 mid 0 1k"),
                         port2=("mid", "gnd"))
    labels = {name: label for label, name in conversion.node_names.items()}
    assert labels["0"] == 0 and labels["7"] == 7
    assert sorted(conversion.node_names) == [0, 1, 2, 7]
    assert "f {} 0 {} 0".format(labels["In"], labels["mid"]) in conversion.netlist


def test_voltage_sources_are_shorted_and_current_sources_opened():
    conversion = convert(deck("V1 in 0 AC 1", "R1 in a 1k", "Vamm a b 0", "R2 b 0 1k",
                              "Ib b 0 DC 1m", "Vdd dd 0 DC 5", "R3 b dd 1k"), port2=("b", "0"))
    lines = entries(conversion.netlist)
    assert lines["R1"][1] == lines["R2"][0]          # a and b are one node
    assert lines["R3"][1] == "0"                     # dd is ground
    assert "Ib (across port 2)" in conversion.netlist and "V1 (across port 1)" in conversion.netlist


def test_default_port_from_a_current_source_points_into_its_node():
    conversion = convert(deck("I1 0 in AC 1", "R1 in 0 1k", "R2 in out 1k", "R3 out 0 1k"),
                         port2=("out", "0"))
    labels = {name: label for label, name in conversion.node_names.items()}
    assert f"f {labels['in']} 0 {labels['out']} 0" in conversion.netlist


def test_symbolic_drops_values():
    conversion = convert(deck("V1 in 0 AC 1", "R1 in out 1k", "C1 out 0 1n"),
                         port2=("out", "0"), symbolic=True)
    assert conversion.values == {} and " v " not in conversion.netlist


def test_negative_coupling_reverses_the_second_pair():
    base = ("V1 in 0 AC 1", "L1 in 0 1m", "L2 out 0 1m", "R1 out 0 1k")
    plus = entries(convert(deck(*base, "K1 L1 L2 0.5"), port2=("out", "0")).netlist)["m_K1"]
    minus = entries(convert(deck(*base, "K1 L1 L2 -0.5"), port2=("out", "0")).netlist)["m_K1"]
    assert plus[:2] == minus[:2] and plus[2:4] == minus[3:1:-1]
    assert float(plus[5]) == float(minus[5]) > 0


# values ---------------------------------------------------------------------
@pytest.mark.parametrize("value", [1e3, 4.7e-12, 38.4, 1e-3, 2.2e-9, 1 / 3, 6.02e23, -1.5e-3,
                                   math.pi * 1e-7, 47000.0, 1.967e-9])
def test_values_are_written_so_that_kavrel_reads_them_closely(value):
    read = read_real_text(value_text(value))
    plain = [read_real_text(form) for form in (repr(value), f"{value:.17g}", f"{value:e}")]
    assert abs(read - value) <= min(abs(other - value) for other in plain)
    assert abs(read - value) <= 1e-14 * abs(value)


def test_exact_values_are_kept():
    conversion = convert(deck("V1 in 0 AC 1", "R1 in out 2.2kOhm", "C1 out 0 10uF",
                              "L1 out 0 {1/(2*3)}"), port2=("out", "0"))
    assert conversion.values == {"R1": 2200.0, "C1": 1e-5, "L1": 1 / 6}


@pytest.mark.parametrize("text, expected", [
    ("2+3*4**2", 50.0), ("-2**2", -4.0), ("2**-1", 0.5), ("(1+2)/4", 0.75),
    ("sqrt(16)+max(1,3)-min(2,5)", 5.0), ("{1k*2.2}", 2200.0), ("'10u/2'", 5e-6),
    ("2^3^2", 512.0), ("a*b", 6.0), ("- -a", 2.0), ("1meg", 1e6), ("abs(-3)", 3.0),
])
def test_expressions(text, expected):
    scope = Scope()
    scope.define("a", "2")
    scope.define("b", "{a+1}")
    assert evaluate(text, scope) == pytest.approx(expected, rel=1e-15)


@pytest.mark.parametrize("text", ["__import__('os')", "1/0", "a", "sqrt(1,2)", "2+", "(1",
                                  "4k7", "1x", "exp(1000)"])
def test_bad_expressions(text):
    with pytest.raises(ExpressionError):
        evaluate(text, Scope())


def test_self_referencing_parameters_are_refused():
    scope = Scope()
    scope.define("a", "{b}")
    scope.define("b", "{a*2}")
    with pytest.raises(ExpressionError, match="itself"):
        evaluate("a", scope)


# refusals ------------------------------------------------------------------
BASE = ("V1 in 0 AC 1", "R1 in out 1k", "R2 out 0 1k")


@pytest.mark.parametrize("line, reason", [
    ("D1 out 0 dmod", "diode"),
    ("Q1 out in 0 npn", "bipolar"),
    ("M1 out in 0 0 nmos", "MOS"),
    ("J1 out in 0 njf", "JFET"),
    ("B1 out 0 V={V(in)*2}", "behavioural"),
    ("T1 out 0 x 0 Z0=50 TD=1n", "transmission"),
    ("O1 out 0 x 0 lossy", "transmission"),
    ("U1 out x 0 rcline", "transmission"),
    ("E1 x 0 poly(1) in 0 0 1", "nonlinear"),
    ("G1 x 0 value={v(in)*2}", "nonlinear"),
    ("R3 out 0 {1k*v(in)}", "nonlinear"),
    ("R3 out 0 {1k*(1+time)}", "time"),
    ("R3 out 0 4k7", "suffix"),
    ("C3 out 0 10q", "suffix"),
    ("X1 out 0 nosuch", "no subcircuit"),
    ("R3 out 0 0", "zero"),
    ("R3 out 0 rmodel", "model"),
    ("F1 out 0 R1 2", "voltage source"),
    ("K1 L9 L8 0.5", "no inductor"),
    ("R3 out 0 {undefined_param}", "unknown parameter"),
    (".include other.lib", "include"),
    ("R3 out 0 1k tc1=0.01", "tc1"),
])
def test_unrepresentable_lines_are_refused_with_their_place(line, reason):
    text = deck(*BASE, line)
    with pytest.raises(SpiceError) as caught:
        convert(text, filename="bad.cir", port2=("out", "0"))
    message = str(caught.value)
    assert message.startswith(f"bad.cir:5: {line}: ")
    assert reason.lower() in message.lower()


def test_port_problems():
    with pytest.raises(SpiceError, match="port 2 must be given"):
        convert(deck(*BASE), filename="d.cir")
    with pytest.raises(SpiceError, match="'nowhere' is not a node"):
        convert(deck(*BASE), port2=("nowhere", "0"))
    with pytest.raises(SpiceError, match="no AC source"):
        convert(deck("R1 a b 1k", "R2 b 0 1k"), port2=("b", "0"))
    with pytest.raises(SpiceError, match="shorted by voltage sources"):
        convert(deck(*BASE, "Vx out k 0", "Vy k 0 0"), port2=("out", "0"))
    with pytest.raises(SpiceError, match="kavrel parameter name"):
        convert(deck(*BASE), port2=("out", "0"), params=["q21"])


def test_limits_name_the_count_and_the_excess():
    ladder = [f"R{i} n{i} n{i + 1} 1k" for i in range(1, 61)]
    with pytest.raises(SpiceError) as caught:
        convert(deck("V1 n1 0 AC 1", *ladder[:32], "C1 n33 0 1n"), port2=("n33", "0"))
    assert "nodes: the network needs 35" in str(caught.value) and "1 too many" in str(caught.value)
    couplings = [f"L{i} a{i} 0 1m" for i in range(1, 7)] + \
        [f"K{i} L{i} L{i + 1} 0.1" for i in range(1, 6)]
    with pytest.raises(SpiceError, match=r"active edges: the network needs 30 .* 1 too many"):
        convert(deck("V1 a1 0 AC 1", *couplings), port2=("a6", "0"))
    grid = [f"R{i} n{i % 20} n{(i * 7 + 3) % 20} 1k" for i in range(1, 59)]
    with pytest.raises(SpiceError, match=r"passive edges: the network needs 60 .* 1 too many"):
        convert(deck("V1 n1 0 AC 1", "Rg n0 0 1", *grid), port2=("n2", "0"))


def test_cli_writes_nothing_on_a_bad_deck(tmp_path):
    path = tmp_path / "bad.cir"
    path.write_text(deck(*BASE, "D1 out 0 dmod"))
    run = subprocess.run([sys.executable, "-m", "kavrel", "spice", str(path), "--port2", "out", "0"],
                         capture_output=True, text=True, cwd=PYTHON_DIR)
    assert run.returncode == 1 and run.stdout == ""
    assert run.stderr.count("\n") == 1 and f"{path}:5: D1 out 0 dmod: " in run.stderr


def test_cli_writes_the_netlist(tmp_path):
    path = tmp_path / "good.cir"
    path.write_text(deck(*BASE))
    run = subprocess.run([sys.executable, "-m", "kavrel", "spice", str(path), "--port2", "out", "0",
                          "--param", "g21", "--symbolic"], capture_output=True, text=True,
                         cwd=PYTHON_DIR)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines()[-3:] == ["f 1 0 2 0", "p g21", "end"]
