"""Numbers with SI scale suffixes, read the way SPICE reads them.

``parse_value("4.7k")`` is 4700.0, ``parse_value("10uF")`` is 1e-05 and
``parse_value("2.2kOhm")`` is 2200.0: a scale suffix (case-insensitive) may
follow the number, and any letters after it are a unit and are ignored.
The result is the double nearest to the exact decimal value.
"""

from __future__ import annotations

import re
from fractions import Fraction

from .errors import ValueSyntaxError

# Longest first, so that "meg" and "mil" win over "m".
SI_SCALES: dict[str, Fraction] = {
    "meg": Fraction(10) ** 6,
    "mil": Fraction(254, 10) * Fraction(10) ** -6,
    "t": Fraction(10) ** 12,
    "g": Fraction(10) ** 9,
    "k": Fraction(10) ** 3,
    "m": Fraction(10) ** -3,
    "u": Fraction(10) ** -6,
    "n": Fraction(10) ** -9,
    "p": Fraction(10) ** -12,
    "f": Fraction(10) ** -15,
}

_NUMBER = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?")
_UNIT = re.compile(r"[A-Za-z]*")


def parse_exact(text: str) -> Fraction:
    """The exact rational value of a number with an optional suffix and unit."""
    stripped = text.strip()
    match = _NUMBER.match(stripped)
    if match is None:
        raise ValueSyntaxError(f"not a number: {text!r}")
    rest = stripped[match.end():]
    if _UNIT.fullmatch(rest) is None:
        raise ValueSyntaxError(f"not a number: {text!r}")
    value = Fraction(match.group())
    lowered = rest.lower()
    for suffix, scale in SI_SCALES.items():
        if lowered.startswith(suffix):
            return value * scale
    return value


def parse_value(text: str) -> float:
    """The double nearest to a number written with an optional SI suffix."""
    return float(parse_exact(text))
