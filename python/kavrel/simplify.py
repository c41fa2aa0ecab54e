"""Cancelling common polynomial factors of a function with SymPy."""

from __future__ import annotations

from .results import SYMPY_TERM_LIMIT, Function, TooLargeError
from .terms import TermPolynomial

import numpy as np


def _to_terms(poly, symbols: tuple[str, ...], exact: bool) -> TermPolynomial:
    """A SymPy Poly in (s, *symbols) back to term arrays."""
    terms = poly.terms()
    if not terms or (len(terms) == 1 and terms[0][1] == 0):
        return TermPolynomial.zero(symbols)
    powers = np.array([m[0] for m, _ in terms], dtype=np.int16)
    coeffs = np.array([float(c) for _, c in terms], dtype=np.float64)
    exponents = np.array([m[1:] for m, _ in terms], dtype=np.uint8).reshape(len(terms), len(symbols))
    all_integer = exact and all(getattr(c, "is_Integer", False) for _, c in terms)
    return TermPolynomial(powers, coeffs, exponents, symbols, all_integer)


def simplify_function(function: Function, limit: int | None = SYMPY_TERM_LIMIT) -> Function:
    """The function with the gcd of numerator and denominator cancelled.

    The sign is chosen so that the denominator's coefficient of its lowest power
    of s has a positive leading numeric coefficient; terms stay grouped by powers
    of s.  An undefined function (denominator 0) is returned unchanged.
    """
    import sympy

    if function.undefined:
        return function
    if limit is not None and function.term_count > limit:
        raise TooLargeError(f"{function.name} has {function.term_count} terms, more than the limit of "
                            f"{limit} for simplification")
    numerator, denominator = function._require()
    s = sympy.Symbol("s")
    gens = (s,) + tuple(sympy.Symbol(n) for n in function.symbols)
    exact = numerator.exact and denominator.exact

    def poly(terms: TermPolynomial):
        data: dict = {}
        for p, c, row in zip(terms.powers.tolist(), terms.coeffs.tolist(), terms.exponents.tolist()):
            number = sympy.Integer(int(c)) if exact and float(c).is_integer() else sympy.Rational(c)
            key = (int(p),) + tuple(row)
            data[key] = data.get(key, 0) + number
        return sympy.Poly.from_dict(data or {(0,) * len(gens): 0}, *gens, domain="QQ")

    top, bottom = poly(numerator), poly(denominator)
    if not top.is_zero:
        common = sympy.gcd(top, bottom)
        if common.total_degree() > 0:
            top = sympy.div(top, common)[0]
            bottom = sympy.div(bottom, common)[0]
    # lowest power of s in the denominator and its leading numeric coefficient
    terms = sorted(bottom.terms(), key=lambda t: (t[0][0], [-e for e in t[0][1:]]))
    if terms and terms[0][1] < 0:
        top, bottom = -top, -bottom
    # clear denominators of rational coefficients
    scale = sympy.ilcm(*[sympy.Rational(c).q for _, c in top.terms() + bottom.terms()] or [1])
    if scale != 1:
        top, bottom = top * scale, bottom * scale
    symbols = function.symbols
    num_terms = _to_terms(top, symbols, exact)
    den_terms = _to_terms(bottom, symbols, exact)
    used = set(num_terms.used_symbols()) | set(den_terms.used_symbols())
    kept = tuple(n for n in symbols if n in used)
    return Function(function.name, function.row, function.header, function.port_labels,
                    function.normalization, num_terms.with_symbols_subset(kept),
                    den_terms.with_symbols_subset(kept), kept, dict(function.values),
                    function.element_names, function.names)
