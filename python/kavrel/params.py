"""kavrel's 32 two-port parameters: names, ports and the headers it prints."""

from __future__ import annotations

from dataclasses import dataclass

from .netlist import PARAM_ALT_NAMES, PARAM_NAMES

NORMALIZATION_NAMES = {0: "Y0", 1: "Z0"}


@dataclass(frozen=True)
class ParamRow:
    """One parameter: terminal indexes (0 +p1, 1 -p1, 2 +p2, 3 -p2) of its ports and quantities."""

    name: str
    alt_name: str
    letter: str
    ports: tuple[int, int, int, int]
    numerator: tuple[str, int, int]
    denominator: tuple[str, int, int]
    held: tuple[str, int, int]

    @property
    def scattering(self) -> bool:
        return self.letter in ("s", "F")


_P1, _P2 = (0, 1), (2, 3)
_ROWS_TEXT = """
g 11 i1 v1 i2;g 12 i1 i2 v1;g 21 v2 v1 i2;g 22 v2 i2 v1;
h 11 v1 i1 v2;h 12 v1 v2 i1;h 21 i2 i1 v2;h 22 i2 v2 i1;
y 11 i1 v1 v2;y 12 i1 v2 v1;y 21 i2 v1 v2;y 22 i2 v2 v1;
z 11 v1 i1 i2;z 12 v1 i2 i1;z 21 v2 i1 i2;z 22 v2 i2 i1;
A 21 v1 v2 i2;B 21 v1 -i2 v2;C 21 i1 v2 i2;D 21 i1 -i2 v2;
a 12 v2 v1 i1;b 12 v2 -i1 v1;c 12 i2 v1 i1;d 12 i2 -i1 v1;
s 11;s 12;s 21;s 22;F 11;F 12;F 21;F 22
"""


def _quantity(text: str) -> tuple[str, int, int]:
    port = _P1 if text[-1] == "1" else _P2
    return text[:-1], port[0], port[1]


def _build() -> tuple[ParamRow, ...]:
    rows = []
    for index, item in enumerate(x.split() for x in _ROWS_TEXT.replace("\n", "").split(";")):
        letter, subscript = item[0], item[1]
        first = _P1 if subscript[0] == "1" else _P2
        second = _P1 if subscript[1] == "1" else _P2
        if len(item) > 2:
            numerator, denominator, held = (_quantity(q) for q in item[2:])
        else:
            numerator = denominator = held = (" ", 0, 0)
        rows.append(ParamRow(PARAM_NAMES[index], PARAM_ALT_NAMES[index], letter,
                             first + second, numerator, denominator, held))
    return tuple(rows)


PARAM_ROWS: tuple[ParamRow, ...] = _build()
ROW_BY_NAME: dict[str, ParamRow] = {row.name: row for row in PARAM_ROWS}


def canonical_name(name: str) -> str | None:
    """The printed parameter name for any name kavrel accepts (``F11`` -> ``f11``)."""
    if name in PARAM_NAMES:
        return name
    if name in PARAM_ALT_NAMES:
        return PARAM_NAMES[PARAM_ALT_NAMES.index(name)]
    return None


def display_name(name: str) -> str:
    """Scattering chain parameters are shown as F11..F22, everything else as printed."""
    return "F" + name[1:] if name.startswith("f") and len(name) == 3 else name


def normalization_name(mode: int) -> str:
    return NORMALIZATION_NAMES.get(mode, "unity")


def header_line(row: ParamRow, labels: tuple[int, int, int, int], norm_mode: int) -> str:
    """The second header line kavrel prints for ``row`` (without the leading blank)."""
    ports = ", ".join(str(labels[i]) for i in row.ports[:2]) + "; " + \
        ", ".join(str(labels[i]) for i in row.ports[2:])
    if row.scattering:
        return f"{row.letter}( {ports}) for {normalization_name(norm_mode)} normalization"
    parts = []
    for quantity, pos, neg in (row.numerator, row.denominator, row.held):
        parts.append(f"{quantity}( {labels[pos]}, {labels[neg]})")
    return f"{row.letter}( {ports}) = {parts[0]}/{parts[1]} for {parts[2]}=0"
