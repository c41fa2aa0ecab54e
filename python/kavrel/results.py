"""Results of a kavrel run: one :class:`NetlistResult` per netlist, one :class:`Function` per parameter."""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any, Mapping, Sequence

import numpy as np

from .errors import KavrelError
from .names import NameMap
from .params import ParamRow, canonical_name, display_name, ROW_BY_NAME
from .terms import TermPolynomial
from .units import parse_value

#: Functions with more terms than this (numerator and denominator together) are
#: not turned into SymPy expressions; their text would not be worth reading.
SYMPY_TERM_LIMIT = 5000

ValueMap = Mapping[str, "float | str"]


class TooLargeError(KavrelError):
    """A function has too many terms to be built as a SymPy expression."""


class FunctionNotComputed(KavrelError):
    """kavrel did not print the function (it ran out of memory)."""


class KavrelRunError(KavrelError):
    """kavrel stopped reading the input: carries its message and the results before it."""

    def __init__(self, message: str, results: list["NetlistResult"], netlist_index: int) -> None:
        super().__init__(message)
        self.message = message
        self.results = results
        self.netlist_index = netlist_index


def _number(name: str, value: "float | str") -> float:
    if isinstance(value, str):
        return parse_value(value)
    try:
        number = float(value)
    except (TypeError, ValueError) as error:
        raise KavrelError(f"value of {name} is not a number: {value!r}") from error
    if not math.isfinite(number):
        raise KavrelError(f"value of {name} is not finite: {value!r}")
    return number


@dataclass
class Function:
    """One two-port parameter function as kavrel printed it.

    ``numerator`` and ``denominator`` are :class:`TermPolynomial` arrays over
    ``symbols`` (element names as kavrel prints them).  ``values`` are the
    values read from the netlist's ``v`` entries (and a SPICE conversion),
    used wherever no values are passed.
    """

    name: str
    row: ParamRow
    header: str
    port_labels: tuple[int, int, int, int]
    normalization: str | None
    numerator: TermPolynomial | None
    denominator: TermPolynomial | None
    symbols: tuple[str, ...]
    values: dict[str, float] = field(default_factory=dict)
    element_names: tuple[str, ...] = ()
    names: NameMap = field(default_factory=NameMap)
    error: str | None = None

    # facts ---------------------------------------------------------------
    @property
    def computed(self) -> bool:
        return self.error is None

    def _require(self) -> tuple[TermPolynomial, TermPolynomial]:
        if self.numerator is None or self.denominator is None:
            raise FunctionNotComputed(f"{self.name}: {self.error}")
        return self.numerator, self.denominator

    @property
    def undefined(self) -> bool:
        """True when kavrel printed the denominator as 0."""
        return self.computed and self._require()[1].is_zero

    @property
    def exact(self) -> bool:
        numerator, denominator = self._require()
        return numerator.exact and denominator.exact

    @property
    def held(self) -> str | None:
        """The port quantity held at zero, e.g. ``i( 2, 0)``; None for s and F."""
        if self.row.scattering:
            return None
        quantity, pos, neg = self.row.held
        return f"{quantity}( {self.port_labels[pos]}, {self.port_labels[neg]})"

    @property
    def shown_header(self) -> str:
        """The header with node labels shown through the name map (SPICE node names, say)."""
        if not self.names.nodes:
            return self.header
        from .params import header_line
        shown = tuple(self.names.node(label) for label in self.port_labels)
        mode = {"Y0": 0, "Z0": 1}.get(self.normalization or "", 2)
        text = header_line(self.row, shown, mode)  # type: ignore[arg-type]
        return text if self.normalization != "network" else text.replace("unity", "network")

    @property
    def term_count(self) -> int:
        numerator, denominator = self._require()
        return numerator.term_count + denominator.term_count

    @property
    def display_name(self) -> str:
        return self.name

    # values --------------------------------------------------------------
    def resolve_values(self, values: ValueMap | None = None) -> dict[str, float]:
        """The netlist's values overridden by ``values`` (names mapped, SI suffixes read)."""
        merged = dict(self.values)
        if values:
            known = set(self.element_names) | set(self.symbols) | {"Y0", "Z0"}
            reverse = {shown: kavrel for kavrel, shown in self.names.elements.items()}
            for key, value in values.items():
                name = key if key in known else reverse.get(key, key)
                if name not in known:
                    raise KavrelError(f"no element named {key!r} in the netlist")
                merged[name] = _number(key, value)
        return merged

    def missing_values(self, values: ValueMap | None = None) -> list[str]:
        merged = self.resolve_values(values)
        return [self.names.element(n) for n in self.symbols if n not in merged]

    def coefficients(self, values: ValueMap | None = None) -> tuple[np.ndarray, np.ndarray]:
        """Numeric coefficients of numerator and denominator, index = power of s."""
        numerator, denominator = self._require()
        merged = self.resolve_values(values)
        missing = [self.names.element(n) for n in self.symbols if n not in merged]
        if missing:
            raise KavrelError(f"{self.name} needs values for " + ", ".join(missing))
        key = tuple(sorted((n, merged[n]) for n in self.symbols))
        cache = self.__dict__.setdefault("_coefficient_cache", {})
        if key not in cache:
            if len(cache) > 16:
                cache.clear()
            cache[key] = (numerator.coefficients_in_s(merged), denominator.coefficients_in_s(merged))
        return cache[key]

    def evaluate(self, values: ValueMap | None = None, s: complex | None = None,
                 f: float | None = None) -> complex:
        """The function at complex frequency ``s`` (or at ``s = 2j*pi*f``)."""
        if s is None:
            if f is None:
                raise KavrelError("give s or f")
            s = 2j * math.pi * f
        num, den = self.coefficients(values)
        return _polyval_exact(num, complex(s)) / _denominator(den, complex(s), self.name)

    def response(self, freqs_hz: Sequence[float] | np.ndarray, values: ValueMap | None = None) -> np.ndarray:
        """Complex values at ``s = 2j*pi*f`` for every frequency in ``freqs_hz``."""
        num, den = self.coefficients(values)
        freqs = np.asarray(freqs_hz, dtype=np.float64).ravel()
        out = np.empty(freqs.size, dtype=np.complex128)
        for k, f in enumerate(freqs):
            s = 2j * math.pi * float(f)
            out[k] = _polyval_exact(num, s) / _denominator(den, s, self.name)
        return out.reshape(np.shape(freqs_hz))

    def substituted(self, values: ValueMap | None = None) -> "Function":
        """This function with the values (netlist's and given) put in."""
        numerator, denominator = self._require()
        merged = {k: v for k, v in self.resolve_values(values).items() if k in self.symbols}
        if set(merged) == set(self.symbols) and self.symbols:
            num_c, den_c = self.coefficients(values)
            num, den = _numeric(num_c), _numeric(den_c)
        else:
            num = numerator.substitute(merged)
            den = denominator.substitute(merged)
        kept = tuple(n for n in self.symbols if n not in merged)
        return Function(self.name, self.row, self.header, self.port_labels, self.normalization,
                        num, den, kept, {}, self.element_names, self.names)

    # SymPy ---------------------------------------------------------------
    def sympy_symbols(self) -> dict[str, Any]:
        import sympy
        return {name: sympy.Symbol(name) for name in self.symbols}

    def _to_sympy(self, polynomial: TermPolynomial, limit: int | None):
        import sympy
        if limit is not None and self.term_count > limit:
            raise TooLargeError(f"{self.name} has {self.term_count} terms, more than the limit of "
                                f"{limit} for SymPy expressions")
        s = sympy.Symbol("s")
        gens = [sympy.Symbol(n) for n in polynomial.symbols]
        terms = {}
        for power, coeff, row in zip(polynomial.powers.tolist(), polynomial.coeffs.tolist(),
                                     polynomial.exponents.tolist()):
            number = sympy.Integer(int(coeff)) if polynomial.exact and float(coeff).is_integer() \
                else sympy.Float(coeff, 17)
            key = (int(power),) + tuple(row)
            terms[key] = terms.get(key, 0) + number
        if not terms:
            return sympy.Poly(0, s, domain="ZZ" if polynomial.exact else "RR")
        full = sympy.Poly.from_dict(terms, s, *gens) if gens else sympy.Poly.from_dict(terms, s)
        return sympy.Poly(full.as_expr(), s)

    def numerator_poly(self, limit: int | None = SYMPY_TERM_LIMIT):
        """The numerator as a SymPy polynomial in s over the element symbols."""
        return self._to_sympy(self._require()[0], limit)

    def denominator_poly(self, limit: int | None = SYMPY_TERM_LIMIT):
        """The denominator as a SymPy polynomial in s over the element symbols."""
        return self._to_sympy(self._require()[1], limit)

    def expr(self, limit: int | None = SYMPY_TERM_LIMIT):
        """The rational expression numerator/denominator (SymPy)."""
        import sympy
        num = self.numerator_poly(limit).as_expr()
        den = self.denominator_poly(limit).as_expr()
        return sympy.Mul(num, sympy.Pow(den, -1), evaluate=False) if den != 0 else sympy.nan

    def simplified(self, limit: int | None = SYMPY_TERM_LIMIT) -> "Function":
        """Common polynomial factor cancelled, denominator's lowest-power coefficient made positive."""
        from .simplify import simplify_function
        return simplify_function(self, limit)

    def __repr__(self) -> str:  # arrays can be huge
        if not self.computed:
            return f"<Function {self.name}: {self.error}>"
        return (f"<Function {self.name}: {self.header}; {self.numerator.term_count} + "
                f"{self.denominator.term_count} terms over {len(self.symbols)} symbols>")


def _numeric(coeffs: np.ndarray) -> TermPolynomial:
    powers = np.flatnonzero(coeffs)
    return TermPolynomial(powers.astype(np.int16), coeffs[powers].astype(np.float64),
                          np.zeros((powers.size, 0), np.uint8), (), True)


def _polyval_exact(coeffs: np.ndarray, s: complex) -> complex:
    """sum coeffs[k] * s**k with the real and imaginary parts summed by math.fsum."""
    if coeffs.size == 0:
        return 0j
    powers = [s ** k for k in range(coeffs.size)]
    terms = [c * p for c, p in zip(coeffs.tolist(), powers)]
    return complex(math.fsum(t.real for t in terms), math.fsum(t.imag for t in terms))


def _denominator(coeffs: np.ndarray, s: complex, name: str) -> complex:
    value = _polyval_exact(coeffs, s)
    if value == 0:
        if not np.any(coeffs):
            raise KavrelError(f"{name} is undefined (its denominator is zero)")
        raise KavrelError(f"the denominator of {name} is zero at s = {s}")
    return value


@dataclass
class NetlistResult:
    """Everything kavrel printed for one netlist."""

    index: int
    functions: dict[str, Function]
    element_names: tuple[str, ...]
    values: dict[str, float]
    port_labels: tuple[int, int, int, int]
    norm_mode: int
    warnings: list[str] = field(default_factory=list)
    messages: list[str] = field(default_factory=list)
    names: NameMap = field(default_factory=NameMap)

    @property
    def missing(self) -> list[str]:
        """Parameters that were asked for but not computed (out of memory)."""
        return [name for name, fn in self.functions.items() if not fn.computed]

    def function(self, name: str) -> Function:
        """The function of a parameter by any name kavrel accepts (``F22``, ``f22``, ``Z21``...)."""
        if name in self.functions:
            return self.functions[name]
        canonical = canonical_name(name)
        if canonical is not None and display_name(canonical) in self.functions:
            return self.functions[display_name(canonical)]
        have = ", ".join(self.functions) or "none"
        raise KavrelError(f"no parameter {name!r} in the output of netlist {self.index + 1} (it has: {have})")

    def __getitem__(self, name: str) -> Function:
        return self.function(name)


def row_for(name: str) -> ParamRow:
    return ROW_BY_NAME[name]
