"""The package reads values, entries and errors as kavrel's reader does."""

from __future__ import annotations

import math

import pytest

import kavrel
from kavrel.netlist import prepare, read_real_text


@pytest.mark.parametrize("text, stored", [
    ("1.5e3", 1500.0), (".5", 0.5), ("5.", 5.0), ("1.2.3", 1.2300000000000002), ("3-4", 34.0),
    ("12k", 12.0), ("1E+3", 1000.0), ("1e-3e4", 1e34), ("38.4", 38.400000000000006),
    ("1e-3", 0.0010000000000000002), ("4.7e-12", 4.700000000000004e-12),
    ("-1.5e-3", -0.0015000000000000005),
])
def test_real_reader_stores_what_kavrel_stores(text, stored):
    assert read_real_text(text) == stored


def test_real_reader_edge_cases():
    assert math.copysign(1.0, read_real_text("-")) == -1.0 and read_real_text("-") == 0.0
    assert read_real_text("1e3-2") == pytest.approx(1e-32, rel=1e-12)
    assert read_real_text("  ") is None
    assert read_real_text("{a {b} c}7") == 7.0


def _netlist(text: str):
    [source] = prepare(text).netlists
    return source


def test_value_sharing_first_nonzero_value_wins():
    assert _netlist("r1 1 2 v 5, r1 2 3, r1 3 4 v 7 f 1 0 2 0 e").values == {"r1": 5.0}
    assert _netlist("r1 1 2 v 0, r1 2 3 v 4 f 1 0 2 0 e").values == {"r1": 4.0}
    # several v entries in a row overwrite the same slot
    assert _netlist("r1 1 2 v 5 v 6 f 1 0 2 0 e").values == {"r1": 6.0}


def test_value_goes_to_the_next_element_after_other_entries():
    assert _netlist("f 1 0 2 0 v 3 r1 1 2 e").values == {"r1": 3.0}
    assert _netlist("v 3 r1 1 2 f 1 0 2 0 e").values == {}  # the reserved name takes it
    assert _netlist("u1 1 0 2 0 v 4 f 1 0 2 0 e").values == {"u1": 4.0}


def test_removing_values_keeps_the_items_apart():
    prepared = prepare("r1 1 2 v 1e3,c1 2 0 {cap}v 2\nf 1 0 2 0;e")
    assert "v" not in prepared.text.replace("{", "").split()
    assert "{" not in prepared.text
    [source] = prepared.netlists
    assert [e.name for e in source.elements] == ["r1", "c1"]
    assert source.values == {"r1": 1000.0, "c1": 2.0}


def test_comment_inside_a_word_joins_it():
    source = _netlist("r1{note}0 4 5 f 1 0 2 0 e")
    assert [e.name for e in source.elements] == ["r10"]
    assert source.elements[0].labels == (4, 5)


def test_long_names_are_truncated_to_twelve_characters():
    source = _netlist("rabcdefghijklmn 1 2 f 1 0 2 0 e")
    assert source.names == ["rabcdefghijk"]


def test_parameter_names_and_aliases_select_rows():
    source = _netlist("r1 1 2 f 1 0 2 0 p A p a21 p Y21 P a12 e")
    assert source.selected == ["A", "y21", "a"]
    assert source.unknown_params == ["a21"]


def test_values_from_v_entries_reach_the_functions():
    [result] = kavrel.analyse("r1 1 2 v 2k\nr2 2 0 v 3\nf 1 0 2 0\np g21\ne\n")
    # 2k reads as 2: letters are dropped by the number reader
    assert result.values == {"r1": 2.0, "r2": 3.0}
    assert result["g21"].evaluate(s=1j) == pytest.approx(3.0 / 5.0, rel=1e-15)


def test_reader_errors_raise_with_kavrel_message_and_earlier_results():
    text = "r1 1 0 f 1 0 1 0 p z11 e\nqq 1 2\nr1 1 0 f 1 0 1 0 e\n"
    with pytest.raises(kavrel.KavrelRunError) as caught:
        kavrel.analyse(text)
    assert "unrecognized element prefix-- 'qq'" in caught.value.message
    assert len(caught.value.results) == 1
    assert caught.value.results[0]["z11"].evaluate({"r1": 5.0}, s=1.0) == pytest.approx(5.0)


@pytest.mark.parametrize("text, message", [
    ("r1 1 0 f 1 0 1 0 f 1 0 2 0 e", "more than one port indicator"),
    ("r1 1 0 e", "please provide a port node indication"),
    ("r1 1 0 f 1 0 2 0 nq 1 2 e", "n1 node# node#  or n2 node# node#"),
    ("r1 1 0 f 1 0 2 0 h e", "help"),
    ("r1 1 0 f 1 0 2 0", "end of input"),
])
def test_each_stop_of_the_reader_is_an_error(text, message):
    with pytest.raises(kavrel.KavrelRunError) as caught:
        kavrel.analyse(text)
    assert message in str(caught.value)


def test_t_entries_are_removed_so_the_normal_form_is_read():
    [result] = kavrel.analyse("r1 1 2 r2 2 0 t 4096 f 1 0 2 0 p g21 t 65 e")
    assert result["g21"].evaluate({"r1": 1.0, "r2": 3.0}, s=0.5) == pytest.approx(0.75)


def test_unknown_parameter_name_is_a_warning():
    [result] = kavrel.analyse("r1 1 0 f 1 0 1 0 p z11 p zz e")
    assert any("does not match the list of parameter names" in w for w in result.warnings)
    assert list(result.functions) == ["z11"]
