"""Numbers from a function at given values: poles, zeros, DC gain, -3 dB bandwidth."""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np

from .errors import KavrelError
from .results import Function, ValueMap


@dataclass(frozen=True)
class Root:
    """A pole or zero in rad/s; ``f0`` (Hz) and ``q`` are set for complex pairs."""

    value: complex
    f0: float | None = None
    q: float | None = None

    @property
    def real(self) -> float:
        return self.value.real

    @property
    def imag(self) -> float:
        return self.value.imag


@dataclass(frozen=True)
class PolesZeros:
    poles: list[Root]
    zeros: list[Root]
    gain: float  # ratio of the highest-power coefficients


def _trimmed(coeffs: np.ndarray) -> np.ndarray:
    nonzero = np.flatnonzero(coeffs)
    if not nonzero.size:
        return coeffs[:0]
    return coeffs[:nonzero[-1] + 1]


def _roots(coeffs: np.ndarray) -> list[Root]:
    coeffs = _trimmed(coeffs)
    if coeffs.size <= 1:
        return []
    values = np.roots(coeffs[::-1])
    roots = []
    for value in sorted(values, key=lambda z: (abs(z), z.imag)):
        value = complex(value)
        if abs(value.imag) > 1e-9 * abs(value):
            magnitude = abs(value)
            roots.append(Root(value, magnitude / (2 * math.pi), magnitude / (-2 * value.real)
                              if value.real != 0 else math.inf))
        else:
            roots.append(Root(complex(value.real, 0.0)))
    return roots


def poles_zeros(function: Function, values: ValueMap | None = None) -> PolesZeros:
    """Poles and zeros (rad/s) of the function at the given values."""
    num, den = function.coefficients(values)
    num, den = _trimmed(num), _trimmed(den)
    if not den.size:
        raise KavrelError(f"{function.name} is undefined (its denominator is zero)")
    gain = float(num[-1] / den[-1]) if num.size else 0.0
    return PolesZeros(_roots(den), _roots(num), gain)


def dc_gain(function: Function, values: ValueMap | None = None) -> float | None:
    """H(0) at the given values; None when it is infinite."""
    num, den = function.coefficients(values)
    num_low = np.flatnonzero(num)
    den_low = np.flatnonzero(den)
    if not den_low.size:
        raise KavrelError(f"{function.name} is undefined (its denominator is zero)")
    if not num_low.size:
        return 0.0
    if num_low[0] < den_low[0]:
        return None
    if num_low[0] > den_low[0]:
        return 0.0
    return float(num[num_low[0]] / den[den_low[0]])


def bandwidth_3db(function: Function, values: ValueMap | None = None,
                  f_max: float | None = None) -> float | None:
    """First frequency (Hz) where |H| falls 3 dB (a factor 1/sqrt 2) below |H(0)|; None if none."""
    gain = dc_gain(function, values)
    if gain is None or gain == 0.0:
        return None
    target = abs(gain) / math.sqrt(2.0)
    pz = poles_zeros(function, values)
    scales = [abs(r.value) for r in pz.poles + pz.zeros if abs(r.value) > 0]
    top = f_max or (max(scales) / (2 * math.pi) * 1e4 if scales else 1e12)
    low = (min(scales) / (2 * math.pi) * 1e-4) if scales else 1e-6
    grid = np.logspace(math.log10(low), math.log10(top), 2000)
    magnitude = np.abs(function.response(grid, values))
    below = np.flatnonzero(magnitude <= target)
    if not below.size:
        return None
    k = int(below[0])
    if k == 0:
        return float(grid[0])
    a, b = float(grid[k - 1]), float(grid[k])
    for _ in range(200):
        middle = math.sqrt(a * b)
        if abs(function.evaluate(values, f=middle)) <= target:
            b = middle
        else:
            a = middle
        if b - a <= 1e-15 * b:
            break
    return 0.5 * (a + b)
