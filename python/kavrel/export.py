"""Each function as one named line in SymPy/Python, LaTeX, Maxima, Octave/MATLAB or JSON.

The writers work on the term arrays directly, so they need no SymPy objects;
``FORMULA_TERM_LIMIT`` stops a line from being written when it would be too long
to be useful (a comment says so instead).
"""

from __future__ import annotations

import json
import keyword
import math
import re
from typing import Iterable

import numpy as np

from .names import NameMap
from .results import Function
from .terms import TermPolynomial

FORMATS = ("sympy", "latex", "maxima", "octave", "json")

#: Functions with more terms than this (numerator and denominator together) are
#: not written as formulas: a line of that size is not worth reading.
FORMULA_TERM_LIMIT = 5000

_IDENTIFIER = re.compile(r"[A-Za-z_][A-Za-z0-9_]*\Z")
_MAXIMA_RESERVED = {"and", "or", "not", "if", "then", "else", "elseif", "do", "for", "from", "step",
                    "thru", "unless", "while", "in", "next", "s"}
_OCTAVE_RESERVED = {"break", "case", "catch", "classdef", "continue", "do", "else", "elseif", "end",
                    "end_try_catch", "end_unwind_protect", "endclassdef", "endenumeration",
                    "endevents", "endfor", "endfunction", "endif", "endmethods", "endparfor",
                    "endproperties", "endswitch", "endwhile", "enumeration", "events", "for",
                    "function", "global", "if", "methods", "otherwise", "parfor", "persistent",
                    "properties", "return", "switch", "try", "until", "unwind_protect",
                    "unwind_protect_cleanup", "while", "s", "i", "j", "e", "pi", "Inf", "NaN"}


def _sympy_clashes(name: str) -> bool:
    import sympy
    return name in vars(sympy) or name in ("s",)


def identifier(name: str, fmt: str) -> str:
    """A symbol name that is valid and free in the target language."""
    text = re.sub(r"[^A-Za-z0-9_]", "_", name)
    if not text or text[0].isdigit():
        text = "x_" + text
    while True:
        if fmt == "latex":
            bad = False
        elif fmt in ("sympy", "json"):
            bad = keyword.iskeyword(text) or _sympy_clashes(text)
        elif fmt == "maxima":
            bad = text in _MAXIMA_RESERVED
        else:
            bad = text in _OCTAVE_RESERVED
        if not bad:
            return text
        text += "_"


def symbol_names(symbols: Iterable[str], names: NameMap, fmt: str) -> dict[str, str]:
    """kavrel symbol -> name in the target format (mapped names, sanitized, unique)."""
    result: dict[str, str] = {}
    taken: set[str] = set()
    for symbol in symbols:
        shown = names.element(symbol)
        if fmt == "json":
            text = shown
        else:
            text = identifier(shown, fmt)
            while text in taken:
                text += "_"
        taken.add(text)
        result[symbol] = text
    return result


def _number(value: float, exact: bool) -> str:
    if exact and float(value).is_integer() and abs(value) < 2 ** 53:
        return str(int(value))
    return repr(float(value))


def _groups(polynomial: TermPolynomial) -> list[tuple[int, list[tuple[float, list[tuple[int, int]]]]]]:
    """Terms grouped by ascending power of s: (power, [(coefficient, [(column, exponent)])])."""
    groups: dict[int, list] = {}
    exponents = polynomial.exponents
    for row in range(polynomial.term_count):
        power = int(polynomial.powers[row])
        nonzero = np.flatnonzero(exponents[row])
        groups.setdefault(power, []).append(
            (float(polynomial.coeffs[row]), [(int(j), int(exponents[row, j])) for j in nonzero]))
    return sorted(groups.items())


class _Writer:
    mul = "*"
    pow = "**"
    empty = "0"

    def __init__(self, symbols: dict[str, str], columns: tuple[str, ...]) -> None:
        self.names = [symbols[c] for c in columns]

    def factor(self, column: int, exponent: int) -> str:
        name = self.names[column]
        return name if exponent == 1 else f"{name}{self.pow}{exponent}"

    def number(self, value: float, exact: bool) -> str:
        return _number(value, exact)

    def term(self, coefficient: float, factors: list[tuple[int, int]], exact: bool) -> str:
        parts = [self.factor(j, e) for j, e in factors]
        magnitude = abs(coefficient)
        sign = "-" if coefficient < 0 else ""
        if parts and magnitude == 1:
            return sign + self.mul.join(parts)
        return sign + self.mul.join([self.number(magnitude, exact)] + parts)

    def sum(self, terms: list[str]) -> str:
        text = " + ".join(terms)
        return text.replace("+ -", "- ")

    def power_of_s(self, power: int) -> str:
        return "s" if power == 1 else f"s{self.pow}{power}"

    def polynomial(self, polynomial: TermPolynomial) -> str:
        pieces = []
        groups = _groups(polynomial)
        if len(groups) == 1 and groups[0][0] == 0:
            return self.sum([self.term(c, f, polynomial.exact) for c, f in groups[0][1]])
        for power, terms in groups:
            inner = self.sum([self.term(c, f, polynomial.exact) for c, f in terms])
            if power == 0:
                pieces.append(inner if len(terms) == 1 else f"({inner})")
            else:
                if len(terms) == 1 and inner in ("1", "-1", "1.0", "-1.0"):
                    text = self.power_of_s(power)
                    pieces.append(("-" if inner.startswith("-") else "") + text)
                elif len(terms) == 1:
                    pieces.append(f"{inner}{self.mul}{self.power_of_s(power)}")
                else:
                    pieces.append(f"({inner}){self.mul}{self.power_of_s(power)}")
        return self.sum(pieces) if pieces else self.empty

    def ratio(self, numerator: str, denominator: str) -> str:
        return f"({numerator})/({denominator})"


class _OctaveWriter(_Writer):
    mul = ".*"
    pow = ".^"

    def ratio(self, numerator: str, denominator: str) -> str:
        return f"({numerator})./({denominator})"


class _MaximaWriter(_Writer):
    pow = "^"


class _LatexWriter(_Writer):
    mul = " "
    pow = "^"

    def __init__(self, symbols: dict[str, str], columns: tuple[str, ...]) -> None:
        import sympy
        self.names = [sympy.latex(sympy.Symbol(symbols[c])) for c in columns]

    def factor(self, column: int, exponent: int) -> str:
        name = self.names[column]
        return name if exponent == 1 else f"{name}^{{{exponent}}}"

    def number(self, value: float, exact: bool) -> str:
        text = _number(value, exact)
        if "e" in text:
            mantissa, exponent = text.split("e")
            return f"{mantissa} \\cdot 10^{{{int(exponent)}}}"
        return text

    def power_of_s(self, power: int) -> str:
        return "s" if power == 1 else f"s^{{{power}}}"

    def polynomial(self, polynomial: TermPolynomial) -> str:
        return super().polynomial(polynomial).replace("(", "\\left(").replace(")", "\\right)")

    def ratio(self, numerator: str, denominator: str) -> str:
        return f"\\frac{{{numerator}}}{{{denominator}}}"


_WRITERS = {"sympy": _Writer, "maxima": _MaximaWriter, "octave": _OctaveWriter, "latex": _LatexWriter}
_COMMENT = {"sympy": "# {}", "maxima": "/* {} */", "octave": "% {}", "latex": "% {}"}


def latex_name(name: str) -> str:
    letter, digits = name[0], name[1:]
    return f"{letter}_{{{digits}}}" if digits else letter


def comment(text: str, fmt: str) -> str:
    if fmt == "json":
        return json.dumps({"comment": text})
    return _COMMENT[fmt].format(text.replace("*/", "* /") if fmt == "maxima" else text)


def export(function: Function, fmt: str = "sympy", *, limit: int | None = FORMULA_TERM_LIMIT,
           name: str | None = None, extra: dict | None = None) -> str:
    """One line: the function as an assignment in ``fmt`` (or a comment saying why not)."""
    if fmt not in FORMATS:
        raise ValueError(f"unknown format {fmt!r}; choose one of {', '.join(FORMATS)}")
    label = name or function.name
    if not function.computed:
        return _skip(label, function.error or "not computed", fmt, extra)
    if function.undefined:
        return _skip(label, "undefined (denominator is zero)", fmt, extra, undefined=True)
    if limit is not None and function.term_count > limit:
        return _skip(label, f"not written: {function.term_count} terms (numerator "
                     f"{function.numerator.term_count}, denominator {function.denominator.term_count}), "
                     f"more than the limit of {limit}; substitute values or raise the limit", fmt, extra)
    numerator, denominator = function.numerator, function.denominator
    symbols = symbol_names(function.symbols, function.names, fmt)
    if fmt == "json":
        record = {"name": label, "header": function.shown_header, "undefined": False,
                  "numerator": _json_terms(numerator, symbols), "denominator": _json_terms(denominator, symbols)}
        if extra:
            record.update(extra)
        return json.dumps(record)
    writer = _WRITERS[fmt](symbols, function.symbols)
    expression = writer.ratio(writer.polynomial(numerator), writer.polynomial(denominator))
    if fmt == "sympy":
        return f"{label} = {expression}"
    if fmt == "maxima":
        return f"{label} : {expression};"
    if fmt == "octave":
        return f"{label} = {expression};"
    return f"{latex_name(label)} = {expression}"


def _skip(label: str, reason: str, fmt: str, extra: dict | None, undefined: bool = False) -> str:
    if fmt == "json":
        record = {"name": label, "undefined": undefined, "comment": reason}
        if extra:
            record.update(extra)
        return json.dumps(record)
    return comment(f"{label}: {reason}", fmt)


def _json_terms(polynomial: TermPolynomial, symbols: dict[str, str]) -> list[dict]:
    terms = []
    for power, group in _groups(polynomial):
        for coefficient, factors in group:
            value: float | int = int(coefficient) if polynomial.exact and float(coefficient).is_integer() \
                and abs(coefficient) < 2 ** 53 else float(coefficient)
            terms.append({"power": power, "coefficient": value,
                          "symbols": {symbols[polynomial.symbols[j]]: e for j, e in factors}})
    return terms


def is_finite_number(value: float) -> bool:
    return math.isfinite(value)
