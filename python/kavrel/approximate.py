"""Simplification after generation: drop the smallest terms at nominal values.

For each coefficient of s^k, numerator and denominator alike, the terms are
ranked by their size at the nominal values and the smallest are dropped as long
as the dropped part stays within ``tolerance`` (relative) of the coefficient.
The approximated function is then compared with the full one at log-spaced
frequencies over the band; if its magnitude error exceeds the tolerance the
per-coefficient budget is halved and the dropping repeated, until it fits.
"""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np

from .errors import KavrelError
from .results import Function, ValueMap
from .terms import TermPolynomial


@dataclass
class Approximation:
    function: Function  # symbolic, with the kept terms only
    tolerance: float
    band: tuple[float, float]
    terms_before: tuple[int, int]
    terms_after: tuple[int, int]
    max_magnitude_error: float  # relative
    max_magnitude_error_db: float
    max_phase_error_deg: float
    within_tolerance: bool
    note: str

    def report(self) -> str:
        before, after = sum(self.terms_before), sum(self.terms_after)
        return (f"{self.function.name}: approximated at tolerance {self.tolerance:g} over "
                f"{self.band[0]:g} Hz to {self.band[1]:g} Hz: numerator {self.terms_before[0]} -> "
                f"{self.terms_after[0]} terms, denominator {self.terms_before[1]} -> {self.terms_after[1]} "
                f"terms ({before} -> {after}); max magnitude error {self.max_magnitude_error_db:.4g} dB "
                f"({100 * self.max_magnitude_error:.4g} %), max phase error {self.max_phase_error_deg:.4g} deg"
                + (f"; {self.note}" if self.note else ""))


def _keep_mask(polynomial: TermPolynomial, values: dict[str, float], budget: float) -> np.ndarray:
    term_values = polynomial.term_values(values)
    keep = np.ones(polynomial.term_count, dtype=bool)
    for power in np.unique(polynomial.powers):
        index = np.flatnonzero(polynomial.powers == power)
        total = math.fsum(term_values[index].tolist())
        if total == 0 or index.size == 1:
            continue
        order = index[np.argsort(np.abs(term_values[index]), kind="stable")]
        dropped = 0.0
        for k, term in enumerate(order[:-1]):
            trial = dropped + term_values[term]
            if abs(trial) > budget * abs(total):
                break
            dropped = trial
            keep[term] = False
    return keep


def _subset(polynomial: TermPolynomial, keep: np.ndarray) -> TermPolynomial:
    return TermPolynomial(polynomial.powers[keep], polynomial.coeffs[keep], polynomial.exponents[keep],
                          polynomial.symbols, polynomial.exact)


def approximate(function: Function, tolerance: float, band: tuple[float, float],
                values: ValueMap | None = None, points: int = 200) -> Approximation:
    """Drop small terms at the nominal ``values`` so that |H| stays within ``tolerance`` over ``band``."""
    if not 0 < tolerance < 1:
        raise KavrelError("the tolerance must lie between 0 and 1")
    f1, f2 = band
    if not (0 < f1 < f2):
        raise KavrelError("the band must be two frequencies 0 < F1 < F2")
    numerator, denominator = function._require()
    merged = function.resolve_values(values)
    missing = [function.names.element(n) for n in function.symbols if n not in merged]
    if missing:
        raise KavrelError(f"{function.name} needs nominal values for " + ", ".join(missing))
    freqs = np.logspace(math.log10(f1), math.log10(f2), points)
    reference = function.response(freqs, merged)
    if np.any(reference == 0):
        raise KavrelError(f"{function.name} is zero inside the band; relative errors are not defined there")
    budget = tolerance
    best = None
    for _ in range(40):
        num_keep = _keep_mask(numerator, merged, budget)
        den_keep = _keep_mask(denominator, merged, budget)
        candidate = Function(function.name, function.row, function.header, function.port_labels,
                             function.normalization, _subset(numerator, num_keep),
                             _subset(denominator, den_keep), function.symbols, dict(function.values),
                             function.element_names, function.names)
        try:
            approx = candidate.response(freqs, merged)
        except KavrelError:
            budget /= 2
            continue
        ratio = approx / reference
        magnitude_error = float(np.max(np.abs(np.abs(ratio) - 1.0)))
        phase_error = float(np.max(np.abs(np.degrees(np.angle(ratio)))))
        best = (candidate, magnitude_error, phase_error, num_keep, den_keep)
        if magnitude_error <= tolerance:
            break
        budget /= 2
    if best is None:
        raise KavrelError(f"{function.name}: no approximation could be evaluated")
    candidate, magnitude_error, phase_error, num_keep, den_keep = best
    within = magnitude_error <= tolerance
    before = (numerator.term_count, denominator.term_count)
    after = (int(num_keep.sum()), int(den_keep.sum()))
    note = ""
    if not within:
        candidate = function
        after, magnitude_error, phase_error = before, 0.0, 0.0
        note = "cannot drop terms within the tolerance; the function is kept whole"
    elif after == before:
        note = "no term could be dropped within the tolerance"
    used = set(candidate.numerator.used_symbols()) | set(candidate.denominator.used_symbols())
    kept = tuple(n for n in candidate.symbols if n in used)
    candidate = Function(candidate.name, candidate.row, candidate.header, candidate.port_labels,
                         candidate.normalization, candidate.numerator.with_symbols(kept),
                         candidate.denominator.with_symbols(kept), kept, dict(function.values),
                         function.element_names, function.names)
    error_db = float(max(abs(20 * math.log10(1 + magnitude_error)),
                         abs(20 * math.log10(max(1 - magnitude_error, 1e-300)))))
    return Approximation(candidate, tolerance, (f1, f2), before, after, magnitude_error, error_db,
                         phase_error, True, note)
