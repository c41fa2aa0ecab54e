"""Values of a deck: numbers with SI suffixes and {expressions} over parameters.

A small recursive-descent parser; nothing is handed to ``eval``.  Arithmetic is
done in double precision, as a circuit simulator does it; plain numbers are the
doubles nearest to their exact decimal values.
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass, field
from typing import Callable

from ..errors import ValueSyntaxError
from ..units import SI_SCALES, parse_exact


class ExpressionError(Exception):
    """A value that cannot be evaluated; the message says why."""


class NonlinearValueError(ExpressionError):
    """A value that depends on circuit quantities, time or frequency."""


# Unit words that may follow a number (after an optional scale suffix).  Anything
# else after the digits is refused, so that a mistyped suffix is not read as 1.
UNIT_WORDS = frozenset({
    "", "f", "farad", "farads", "h", "henry", "henries", "henrys", "ohm", "ohms", "v", "volt",
    "volts", "a", "amp", "amps", "ampere", "s", "sec", "siemens", "mho", "mhos", "hz", "w",
    "deg", "ohm/v", "a/v", "v/v", "a/a",
})

_NUMBER = re.compile(r"(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?")
_WORD = re.compile(r"[A-Za-z_][A-Za-z0-9_.]*")
_LETTERS = re.compile(r"[A-Za-z]*")

_FUNCTIONS: dict[str, tuple[int, Callable[..., float]]] = {
    "sqrt": (1, math.sqrt), "exp": (1, math.exp), "log": (1, math.log), "ln": (1, math.log),
    "log10": (1, math.log10), "abs": (1, abs), "sin": (1, math.sin), "cos": (1, math.cos),
    "tan": (1, math.tan), "asin": (1, math.asin), "acos": (1, math.acos),
    "atan": (1, math.atan), "sinh": (1, math.sinh), "cosh": (1, math.cosh),
    "tanh": (1, math.tanh), "pow": (2, math.pow), "pwr": (2, lambda x, y: math.copysign(abs(x) ** y, x)),
    "min": (2, min), "max": (2, max), "floor": (1, math.floor), "ceil": (1, math.ceil),
    "int": (1, math.trunc), "nint": (1, round), "sgn": (1, lambda x: float((x > 0) - (x < 0))),
    "atan2": (2, math.atan2), "hypot": (2, math.hypot),
}
_CONSTANTS = {"pi": math.pi}
_CIRCUIT_QUANTITIES = {"v", "i"}
_TIME_WORDS = {"time", "temper", "hertz", "freq", "frequency", "temp"}


def number_value(text: str) -> float:
    """A number with an optional scale suffix and unit word, e.g. ``4.7k``, ``10uF``."""
    match = _NUMBER.match(text)
    if match is None:
        raise ExpressionError(f"not a number: {text!r}")
    rest = text[match.end():]
    letters = _LETTERS.match(rest)
    if letters is None or letters.end() != len(rest):
        raise ExpressionError(f"unknown suffix {rest!r} in {text!r}")
    lowered = rest.lower()
    unit = lowered
    for suffix in SI_SCALES:
        if lowered.startswith(suffix):
            unit = lowered[len(suffix):]
            break
    if unit not in UNIT_WORDS:
        raise ExpressionError(f"unknown suffix {rest!r} in {text!r}")
    try:
        return float(parse_exact(text))
    except ValueSyntaxError as error:
        raise ExpressionError(str(error)) from error


@dataclass
class Scope:
    """Parameters visible at one level of the deck, evaluated on first use."""

    definitions: dict[str, str] = field(default_factory=dict)   # lower-case name -> expression
    parent: Scope | None = None
    values: dict[str, float] = field(default_factory=dict)
    _busy: set[str] = field(default_factory=set)

    def define(self, name: str, expression: str) -> None:
        self.definitions[name.lower()] = expression
        self.values.pop(name.lower(), None)

    def set_value(self, name: str, value: float) -> None:
        self.definitions.pop(name.lower(), None)
        self.values[name.lower()] = value

    def has(self, name: str) -> bool:
        key = name.lower()
        return key in self.values or key in self.definitions

    def lookup(self, name: str) -> float:
        key = name.lower()
        scope: Scope | None = self
        while scope is not None:
            if key in scope.values:
                return scope.values[key]
            if key in scope.definitions:
                return scope._evaluate_definition(key)
            scope = scope.parent
        raise ExpressionError(f"unknown parameter {name!r}")

    def _evaluate_definition(self, key: str) -> float:
        if key in self._busy:
            raise ExpressionError(f"parameter {key!r} is defined in terms of itself")
        self._busy.add(key)
        try:
            value = evaluate(self.definitions[key], self)
        finally:
            self._busy.discard(key)
        self.values[key] = value
        return value


def evaluate(text: str, scope: Scope) -> float:
    """The value of an expression (braces or quotes around it are allowed)."""
    body = text.strip()
    if len(body) >= 2 and ((body[0] == "{" and body[-1] == "}") or (body[0] == body[-1] == "'")):
        body = body[1:-1]
    parser = _Parser(body, scope)
    value = parser.expression()
    parser.skip_blanks()
    if parser.position != len(body):
        raise ExpressionError(f"unexpected {body[parser.position:]!r} in {text!r}")
    if not math.isfinite(value):
        raise ExpressionError(f"{text!r} is not a finite number")
    return value


class _Parser:
    def __init__(self, text: str, scope: Scope) -> None:
        self.text = text
        self.position = 0
        self.scope = scope

    def skip_blanks(self) -> None:
        while self.position < len(self.text) and self.text[self.position].isspace():
            self.position += 1

    def peek(self, token: str) -> bool:
        self.skip_blanks()
        return self.text.startswith(token, self.position)

    def take(self, token: str) -> bool:
        if self.peek(token):
            self.position += len(token)
            return True
        return False

    def expect(self, token: str) -> None:
        if not self.take(token):
            found = self.text[self.position:] or "the end"
            raise ExpressionError(f"expected {token!r} before {found!r} in {self.text!r}")

    def expression(self) -> float:
        value = self.term()
        while True:
            if self.take("+"):
                value = value + self.term()
            elif self.take("-"):
                value = value - self.term()
            else:
                return value

    def term(self) -> float:
        value = self.unary()
        while True:
            if self.peek("**"):
                return value
            if self.take("*"):
                value = value * self.unary()
            elif self.take("/"):
                divisor = self.unary()
                if divisor == 0:
                    raise ExpressionError(f"division by zero in {self.text!r}")
                value = value / divisor
            else:
                return value

    def unary(self) -> float:
        if self.take("-"):
            return -self.unary()
        if self.take("+"):
            return self.unary()
        return self.power()

    def power(self) -> float:
        base = self.primary()
        if self.take("**") or self.take("^"):
            exponent = self.unary()
            try:
                result = base ** exponent
            except (OverflowError, ZeroDivisionError) as error:
                raise ExpressionError(f"{self.text!r}: {error}") from error
            if isinstance(result, complex):
                raise ExpressionError(f"negative base to a fractional power in {self.text!r}")
            return float(result)
        return base

    def primary(self) -> float:
        self.skip_blanks()
        if self.take("("):
            value = self.expression()
            self.expect(")")
            return value
        rest = self.text[self.position:]
        number = _NUMBER.match(rest)
        if number is not None:
            end = number.end()
            letters = _LETTERS.match(rest, end)
            end = letters.end() if letters else end
            if end < len(rest) and (rest[end].isdigit() or rest[end] == "."):
                raise ExpressionError(f"unknown suffix in {rest[:end + 1]!r}...: digits may not "
                                      "follow a scale suffix (write 4.7k, not 4k7)")
            self.position += end
            return number_value(rest[:end])
        word = _WORD.match(rest)
        if word is None:
            raise ExpressionError(f"unexpected {rest or 'end'!r} in {self.text!r}")
        name = word.group()
        self.position += word.end()
        key = name.lower()
        if self.peek("("):
            if key in _CIRCUIT_QUANTITIES:
                raise NonlinearValueError(
                    f"{name}(...) depends on the circuit's solution: a nonlinear value")
            if key not in _FUNCTIONS:
                raise ExpressionError(f"unknown function {name!r}")
            self.expect("(")
            arguments = [self.expression()]
            while self.take(","):
                arguments.append(self.expression())
            self.expect(")")
            count, function = _FUNCTIONS[key]
            if len(arguments) != count:
                raise ExpressionError(f"{name} takes {count} argument(s), not {len(arguments)}")
            try:
                return float(function(*arguments))
            except (ValueError, OverflowError) as error:
                raise ExpressionError(f"{name}{tuple(arguments)}: {error}") from error
        if key in _TIME_WORDS and not self.scope_has(name):
            raise NonlinearValueError(f"{name!r} makes the value time-, frequency- or temperature-dependent")
        if key in _CONSTANTS and not self.scope_has(name):
            return _CONSTANTS[key]
        return self.scope.lookup(name)

    def scope_has(self, name: str) -> bool:
        scope: Scope | None = self.scope
        while scope is not None:
            if scope.has(name):
                return True
            scope = scope.parent
        return False
