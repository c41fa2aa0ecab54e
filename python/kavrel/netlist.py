"""Reading netlists the way kavrel reads them, to take the values out.

kavrel rounds every value it prints to six digits, so the package analyses a
netlist symbolically and puts the values in itself.  :func:`prepare` reads the
input with kavrel's own lexical rules (separators, nested comments, the
127-character word buffer, the unsigned and real readers with their quirks) and
entry rules, and returns

* the text to hand to kavrel: the user's input with every ``v`` entry and every
  ``t`` entry replaced by a blank, and every comment deleted (comments are
  transparent to kavrel, so deleting one never joins or splits an item), and
* for each netlist the facts the package needs: element names, the values read
  from ``v`` entries (first nonzero value of a name wins), the port labels, the
  selected parameters and the normalization.

``t`` entries are removed because their listings and output forms are for
debugging kavrel; the package always reads the normal output form.
"""

from __future__ import annotations

from dataclasses import dataclass, field

SEPARATORS = frozenset(" \t\n\r,;")
NAME_LIMIT = 12
WORD_CAPACITY = 128
_TENTH = 0.1


@dataclass
class Element:
    """One element entry as read: its (truncated) name and its kind."""

    name: str
    kind: str  # r l c g y z gm o u b rm gy m
    labels: tuple[int, ...]
    negated: bool = False


@dataclass
class NetlistSource:
    """What the package knows about one netlist from reading it itself."""

    index: int
    elements: list[Element] = field(default_factory=list)
    slot_values: dict[int, float] = field(default_factory=dict)  # element index -> last v
    port_labels: tuple[int, int, int, int] | None = None
    selected: list[str] | None = None  # None: every parameter
    unknown_params: list[str] = field(default_factory=list)
    norm_mode: int = 0
    norm_networks: dict[int, tuple[int, int]] = field(default_factory=dict)
    complete: bool = False  # its end entry was read
    stop: str | None = None  # why kavrel stops reading in this netlist

    @property
    def names(self) -> list[str]:
        """Element names in order of first appearance (kavrel's symbol order)."""
        seen: dict[str, None] = {}
        for element in self.elements:
            seen.setdefault(element.name, None)
        return list(seen)

    @property
    def values(self) -> dict[str, float]:
        """Values from ``v`` entries: the first nonzero value of each name wins."""
        result: dict[str, float] = {}
        for index, element in enumerate(self.elements):
            value = self.slot_values.get(index, 0.0)
            if value != 0.0 and element.name not in result:
                result[element.name] = value
        return result


@dataclass
class PreparedInput:
    """The text for kavrel and the netlists read from the user's input."""

    text: str
    netlists: list[NetlistSource]


class _Reader:
    """kavrel's three item readers over a string, with comment tracking."""

    def __init__(self, text: str) -> None:
        self.text = text
        self.pos = 0
        self.comments: list[tuple[int, int]] = []
        self.item_start = -1

    def _next(self) -> str | None:
        text = self.text
        while self.pos < len(text):
            char = text[self.pos]
            self.pos += 1
            if char != "{":
                return char
            start = self.pos - 1
            depth = 1
            while depth > 0 and self.pos < len(text):
                inner = text[self.pos]
                self.pos += 1
                if inner == "{":
                    depth += 1
                elif inner == "}":
                    depth -= 1
            self.comments.append((start, self.pos))
        return None

    def read_word(self, capacity: int = WORD_CAPACITY) -> str | None:
        chars: list[str] = []
        while True:
            char = self._next()
            if char is None:
                return "".join(chars) if chars else None
            if char in SEPARATORS:
                if chars:
                    return "".join(chars)
                continue
            if len(chars) < capacity - 1:
                if not chars:
                    self.item_start = self.pos - 1
                chars.append(char)
            else:
                return "".join(chars)

    def read_unsigned(self) -> int | None:
        value = 0
        begun = False
        while True:
            char = self._next()
            if char is None:
                return _as_int32(value) if begun else None
            if char in SEPARATORS:
                if begun:
                    return _as_int32(value)
                continue
            if "0" <= char <= "9":
                value = (value * 10 + ord(char) - 48) & 0xFFFFFFFF
                begun = True

    def read_real(self) -> float | None:
        mantissa = 0.0
        sign = 1.0
        begun = False
        fraction_digits = -1
        exponent_state = 0
        exponent = 0
        while True:
            char = self._next()
            if char is None or char in SEPARATORS:
                if char is not None and not begun:
                    continue
                if not begun:
                    return None
                break
            if "0" <= char <= "9":
                begun = True
                digit = ord(char) - 48
                if exponent_state != 0:
                    exponent = exponent * 10 + digit
                else:
                    mantissa = mantissa * 10.0 + digit
                    if fraction_digits >= 0:
                        fraction_digits += 1
            elif char == ".":
                if fraction_digits < 0 and exponent_state == 0:
                    fraction_digits = 0
            elif char in "eE":
                exponent_state = 1
            elif char == "-":
                if exponent_state == 1:
                    exponent_state = -1
                if not begun:
                    begun = True
                    sign = -1.0
        if fraction_digits < 0:
            fraction_digits = 0
        decimal_exponent = exponent * exponent_state - fraction_digits
        return _scale(mantissa, decimal_exponent) * sign


def _as_int32(value: int) -> int:
    return value - (1 << 32) if value >= (1 << 31) else value


def _scale(mantissa: float, decimal_exponent: int) -> float:
    """Multiply by 10.0 or by 0.1 one step at a time, as kavrel does."""
    factor = 10.0 if decimal_exponent > 0 else _TENTH
    for _ in range(abs(decimal_exponent)):
        if mantissa == 0.0 or mantissa in (float("inf"), float("-inf")):
            break
        mantissa *= factor
    return mantissa


def read_real_text(text: str) -> float | None:
    """The value kavrel stores for the number text of a ``v`` entry."""
    return _Reader(text).read_real()


# Row order of kavrel's parameter table, with the second list of names.
PARAM_NAMES = (
    "g11 g12 g21 g22 h11 h12 h21 h22 y11 y12 y21 y22 z11 z12 z21 z22 "
    "A B C D a b c d s11 s12 s21 s22 f11 f12 f21 f22").split()
PARAM_ALT_NAMES = (
    "G11 G12 G21 G22 H11 H12 H21 H22 Y11 Y12 Y21 Y22 Z11 Z12 Z21 Z22 "
    "A21 B21 C21 D21 a12 b12 c12 d12 S11 S12 S21 S22 F11 F12 F21 F22").split()


def param_row(word: str) -> int | None:
    """The parameter row a ``p`` entry's word selects, or None."""
    if word in PARAM_NAMES:
        return PARAM_NAMES.index(word)
    if word in PARAM_ALT_NAMES:
        return PARAM_ALT_NAMES.index(word)
    return None


def _element_kind(c0: str, c1: str) -> tuple[str, int] | None:
    """Kind and label count of an element entry, by kavrel's rule order."""
    lo0, lo1 = c0.lower(), c1.lower()
    if (lo0 in "gr" and lo1 == "m") or lo0 in "oub":
        return ("gm" if lo0 == "g" else "rm" if lo0 == "r" else lo0), 4
    if lo0 == "m":
        return "m", 4
    if lo0 == "g" and lo1 == "y":
        return "gy", 4
    return None


def prepare(text: str) -> PreparedInput:
    """Read ``text`` as kavrel would and build the input kavrel is given."""
    reader = _Reader(text)
    edits: list[tuple[int, int]] = []  # spans replaced by one blank
    netlists: list[NetlistSource] = []
    running = True
    while running:
        source = NetlistSource(index=len(netlists))
        value_target = -1  # the reserved name: a v before any other entry is lost
        negate_next = False
        port_given = False
        params_seen = False
        started = False
        while True:
            word = reader.read_word()
            if word is None:
                running = False
                if started:
                    source.stop = "end of input inside the netlist"
                break
            started = True
            entry_start = reader.item_start
            name = word[:NAME_LIMIT]
            c0 = name[0]
            c1 = name[1] if len(name) > 1 else ""
            low = c0.lower()
            if low != "v":
                value_target = len(source.elements)
            two_port = _element_kind(c0, c1)
            if two_port is not None or low == "f":
                labels = [reader.read_unsigned() for _ in range(4)]
                if None in labels:
                    running = False
                    source.stop = "end of input inside an entry"
                    break
                if two_port is not None:
                    source.elements.append(Element(name, two_port[0], tuple(labels), negate_next))
                    negate_next = False
                elif port_given:
                    running = False
                    source.stop = "more than one port designator"
                    break
                else:
                    port_given = True
                    source.port_labels = tuple(labels)  # type: ignore[assignment]
            elif low == "p":
                param = reader.read_word()
                if param is None:
                    running = False
                    source.stop = "end of input inside an entry"
                    break
                if not params_seen:
                    params_seen = True
                    source.selected = []
                row = param_row(param)
                if row is None:
                    source.unknown_params.append(param)
                elif PARAM_NAMES[row] not in source.selected:  # type: ignore[operator]
                    source.selected.append(PARAM_NAMES[row])  # type: ignore[union-attr]
            elif low in "gzyrlc":
                labels = [reader.read_unsigned() for _ in range(2)]
                if None in labels:
                    running = False
                    source.stop = "end of input inside an entry"
                    break
                source.elements.append(Element(name, low, tuple(labels), negate_next))
                negate_next = False
            elif low == "n":
                if len(name) == 1:
                    mode = reader.read_unsigned()
                    if mode is None:
                        running = False
                        source.stop = "end of input inside an entry"
                        break
                    source.norm_mode = mode
                elif c1 in "12":
                    pair = (reader.read_unsigned(), reader.read_unsigned())
                    if None in pair:
                        running = False
                        source.stop = "end of input inside an entry"
                        break
                    source.norm_networks[int(c1)] = pair  # type: ignore[assignment]
                else:
                    running = False
                    source.stop = "malformed n entry"
                    break
            elif low == "e":
                source.complete = True
                break
            elif low == "h":
                running = False
                source.stop = "help requested"
                break
            elif low == "t":
                if reader.read_unsigned() is None:
                    running = False
                    source.stop = "end of input inside an entry"
                    break
                edits.append((entry_start, reader.pos))
            elif low == "v":
                value = reader.read_real()
                if value is None:
                    running = False
                    source.stop = "end of input inside an entry"
                    break
                if value_target >= 0:
                    source.slot_values[value_target] = value
                edits.append((entry_start, reader.pos))
            elif low == "x":
                negate_next = True
            else:
                running = False
                source.stop = "unrecognized entry"
                break
        if started:
            if source.complete and source.port_labels is None:
                source.stop = "no port designator"
                running = False
            netlists.append(source)
    return PreparedInput(_apply_edits(text, edits, reader.comments), netlists)


def _apply_edits(text: str, blanks: list[tuple[int, int]], deletions: list[tuple[int, int]]) -> str:
    spans = [(start, end, " ") for start, end in blanks]
    spans += [(start, end, "") for start, end in deletions
              if not any(b_start <= start and end <= b_end for b_start, b_end in blanks)]
    spans.sort()
    pieces: list[str] = []
    position = 0
    for start, end, replacement in spans:
        if start < position:
            continue
        pieces.append(text[position:start])
        pieces.append(replacement)
        position = end
    pieces.append(text[position:])
    return "".join(pieces)
