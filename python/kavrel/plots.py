"""Bode and pole-zero plots with matplotlib (SVG or PNG by the file's extension)."""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Sequence

import numpy as np

from .errors import KavrelError
from .results import Function, ValueMap


@dataclass
class BodeData:
    name: str
    freqs: np.ndarray
    magnitude_db: np.ndarray
    phase_deg: np.ndarray


def bode_data(function: Function, freqs: np.ndarray, values: ValueMap | None = None) -> BodeData:
    """Magnitude (dB) and unwrapped phase (degrees) at the given frequencies (Hz)."""
    response = function.response(freqs, values)
    with np.errstate(divide="ignore"):
        magnitude = 20 * np.log10(np.abs(response))
    phase = np.degrees(np.unwrap(np.angle(response)))
    return BodeData(function.name, np.asarray(freqs, dtype=float), magnitude, phase)


def frequencies(f_from: float, f_to: float, points: int) -> np.ndarray:
    if not (0 < f_from < f_to) or points < 2:
        raise KavrelError("frequencies need 0 < FROM < TO and at least 2 points")
    return np.logspace(math.log10(f_from), math.log10(f_to), points)


def _figure_format(path: str) -> str:
    lowered = path.lower()
    for ext in ("svg", "png"):
        if lowered.endswith("." + ext):
            return ext
    raise KavrelError(f"plot file {path!r} must end in .svg or .png")


def bode_plot(curves: Sequence[BodeData], path: str, title: str | None = None) -> None:
    """Write a Bode plot (magnitude and phase against log frequency) of one or more functions."""
    fmt = _figure_format(path)
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    figure, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(7, 5.5))
    for curve in curves:
        top.semilogx(curve.freqs, curve.magnitude_db, label=curve.name)
        bottom.semilogx(curve.freqs, curve.phase_deg, label=curve.name)
    top.set_ylabel("magnitude (dB)")
    bottom.set_ylabel("phase (degrees)")
    bottom.set_xlabel("frequency (Hz)")
    for axis in (top, bottom):
        axis.grid(True, which="both", alpha=0.3)
    top.legend(loc="best")
    if title:
        top.set_title(title)
    figure.tight_layout()
    figure.savefig(path, format=fmt, dpi=80)
    plt.close(figure)


def pole_zero_plot(poles: Sequence[complex], zeros: Sequence[complex], path: str,
                   title: str | None = None) -> None:
    """Write a pole-zero map (rad/s): poles as crosses, zeros as circles."""
    fmt = _figure_format(path)
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    figure, axis = plt.subplots(figsize=(5.5, 5))
    if poles:
        axis.scatter([p.real for p in poles], [p.imag for p in poles], marker="x", s=60, label="poles")
    if zeros:
        axis.scatter([z.real for z in zeros], [z.imag for z in zeros], marker="o", s=60,
                     facecolors="none", edgecolors="C1", label="zeros")
    axis.axhline(0, color="0.5", lw=0.8)
    axis.axvline(0, color="0.5", lw=0.8)
    axis.set_xlabel("real part (rad/s)")
    axis.set_ylabel("imaginary part (rad/s)")
    axis.grid(True, alpha=0.3)
    if poles or zeros:
        axis.legend(loc="best")
    if title:
        axis.set_title(title)
    figure.tight_layout()
    figure.savefig(path, format=fmt, dpi=80)
    plt.close(figure)
