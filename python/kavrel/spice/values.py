"""Writing values so that kavrel's number reader gets as close as it can.

kavrel reads the digits of a number into a double one by one and then scales by
repeated multiplication with 10 or 0.1, so the written form matters; the best
of several decimal forms is chosen by reading each one back the same way.
"""

from __future__ import annotations

TENTH = 0.1


def kavrel_reads(mantissa: int, exponent: int) -> float:
    """The double kavrel stores for the digits of `mantissa` times 10**exponent."""
    value = 0.0
    for digit in str(mantissa):
        value = value * 10 + int(digit)
    if exponent > 0:
        for _ in range(exponent):
            value *= 10.0
    else:
        for _ in range(-exponent):
            value *= TENTH
    return value


def _candidates(magnitude: float):
    for digits in range(1, 18):
        text = f"{magnitude:.{digits - 1}e}"
        mantissa_text, exponent_text = text.split("e")
        mantissa = int(mantissa_text.replace(".", ""))
        exponent = int(exponent_text) - (digits - 1)
        for delta in (-1, 0, 1):
            base = mantissa + delta
            if base <= 0:
                continue
            for zeros in range(0, 18 - digits):
                yield base * 10 ** zeros, exponent - zeros


def value_text(value: float) -> str:
    """A decimal form of `value` that kavrel reads as nearly as possible."""
    if value == 0:
        return "0"
    magnitude = abs(value)
    best: tuple[float, int, str] | None = None
    for mantissa, exponent in _candidates(magnitude):
        error = abs(kavrel_reads(mantissa, exponent) - magnitude)
        text = f"{mantissa}e{exponent}" if exponent else str(mantissa)
        key = (error, len(text), text)
        if best is None or key < best:
            best = key
        if error == 0 and best[0] == 0 and len(text) > len(best[2]):
            continue
    assert best is not None
    return ("-" if value < 0 else "") + best[2]
