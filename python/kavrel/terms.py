"""Polynomials in s as arrays of terms, read straight from kavrel's printed text.

A :class:`TermPolynomial` holds one term per row: the power of s, the numeric
coefficient and the exponents of the symbols (a ``uint8`` matrix whose columns
follow the function's symbol list).  Millions of terms fit in a few tens of
megabytes and are evaluated with NumPy; nothing here builds SymPy objects.
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass
from typing import Mapping, Sequence

import numpy as np

from .errors import KavrelError


class OutputFormatError(KavrelError):
    """kavrel's output did not have the expected form."""


@dataclass
class TermPolynomial:
    """A polynomial in s: ``sum coeffs[i] * s**powers[i] * prod(symbols**exponents[i])``."""

    powers: np.ndarray  # int16, one per term
    coeffs: np.ndarray  # float64
    exponents: np.ndarray  # uint8, terms x symbols
    symbols: tuple[str, ...]
    exact: bool = True  # every printed coefficient was a whole number written in full

    @classmethod
    def zero(cls, symbols: Sequence[str] = ()) -> "TermPolynomial":
        return cls(np.zeros(0, np.int16), np.zeros(0), np.zeros((0, len(symbols)), np.uint8),
                   tuple(symbols))

    @property
    def term_count(self) -> int:
        return int(self.coeffs.shape[0])

    @property
    def is_zero(self) -> bool:
        return not np.any(self.coeffs != 0)

    @property
    def degree(self) -> int:
        return int(self.powers.max()) if self.term_count else -1

    def with_symbols(self, symbols: Sequence[str]) -> "TermPolynomial":
        """The same polynomial with columns for ``symbols`` (a superset of the used ones)."""
        symbols = tuple(symbols)
        if symbols == self.symbols:
            return self
        matrix = np.zeros((self.term_count, len(symbols)), np.uint8)
        position = {name: i for i, name in enumerate(symbols)}
        for j, name in enumerate(self.symbols):
            column = self.exponents[:, j]
            if name not in position:
                if np.any(column):
                    raise KeyError(name)
                continue
            matrix[:, position[name]] = column
        return TermPolynomial(self.powers, self.coeffs, matrix, symbols, self.exact)

    def with_symbols_subset(self, symbols: Sequence[str]) -> "TermPolynomial":
        """Only the columns of ``symbols`` (the others must be unused)."""
        return self.with_symbols(symbols)

    def used_symbols(self) -> list[str]:
        if not self.term_count:
            return []
        used = np.any(self.exponents != 0, axis=0)
        return [name for name, flag in zip(self.symbols, used) if flag]

    def term_values(self, values: Mapping[str, float], symbols: Sequence[str] | None = None) -> np.ndarray:
        """Each term's coefficient times the product of the given symbols' values.

        ``symbols`` restricts the product to those symbols (default: all of
        ``values`` that are columns here).
        """
        result = self.coeffs.astype(np.float64, copy=True)
        names = [n for n in (symbols if symbols is not None else self.symbols) if n in values]
        scaled = False
        for name in names:
            j = self.symbols.index(name)
            column = self.exponents[:, j]
            top = int(column.max()) if column.size else 0
            if top == 0:
                continue
            value = float(values[name])
            table = np.array([value ** e for e in range(top + 1)], dtype=np.float64)
            result *= table[column]
            scaled = True
        if scaled and not np.all(np.isfinite(result)):
            result = self._term_values_logarithmic(values, names)
        return result

    def _term_values_logarithmic(self, values: Mapping[str, float], names: Sequence[str]) -> np.ndarray:
        """Term values through sums of logarithms, for products whose partial results overflow."""
        logs = np.log(np.abs(self.coeffs.astype(np.float64)))
        negative = self.coeffs < 0
        for name in names:
            j = self.symbols.index(name)
            column = self.exponents[:, j].astype(np.float64)
            value = float(values[name])
            logs = logs + column * math.log(abs(value)) if value != 0 else np.where(column > 0, -np.inf, logs)
            if value < 0:
                negative ^= (self.exponents[:, j] % 2 == 1)
        result = np.exp(logs)
        return np.where(negative, -result, result)

    def substitute(self, values: Mapping[str, float]) -> "TermPolynomial":
        """Put the values of the named symbols in; equal remaining terms are merged."""
        keep = [j for j, name in enumerate(self.symbols) if name not in values]
        term_values = self.term_values(values)
        kept_symbols = tuple(self.symbols[j] for j in keep)
        remaining = self.exponents[:, keep]
        return _merge(self.powers, term_values, remaining, kept_symbols, self.exact)

    def coefficients_in_s(self, values: Mapping[str, float]) -> np.ndarray:
        """Numeric coefficient of each power of s (index = power), summed with math.fsum."""
        missing = [n for n in self.used_symbols() if n not in values]
        if missing:
            raise KavrelError("values missing for " + ", ".join(missing))
        term_values = self.term_values(values)
        size = self.degree + 1
        result = np.zeros(max(size, 0))
        if not self.term_count:
            return result
        order = np.argsort(self.powers, kind="stable")
        sorted_powers = self.powers[order]
        sorted_values = term_values[order]
        bounds = np.flatnonzero(np.diff(sorted_powers)) + 1
        starts = np.concatenate(([0], bounds))
        stops = np.concatenate((bounds, [len(order)]))
        for start, stop in zip(starts, stops):
            result[int(sorted_powers[start])] = math.fsum(sorted_values[start:stop].tolist())
        return result


def _merge(powers: np.ndarray, coeffs: np.ndarray, exponents: np.ndarray,
           symbols: tuple[str, ...], exact: bool) -> TermPolynomial:
    """Merge terms with equal power and exponents, summing coefficients with fsum."""
    if not coeffs.size:
        return TermPolynomial(powers, coeffs, exponents, symbols, exact)
    keys = np.concatenate([powers.astype(np.int16).view(np.uint8).reshape(-1, 2), exponents], axis=1)
    keys = np.ascontiguousarray(keys)
    row_view = keys.view(np.dtype((np.void, keys.shape[1]))).ravel()
    unique, first, inverse = np.unique(row_view, return_index=True, return_inverse=True)
    if unique.size == coeffs.size:
        merged = coeffs
        order = np.arange(coeffs.size)
    else:
        order = first
        if unique.size <= 20000:
            sort = np.argsort(inverse, kind="stable")
            bounds = np.flatnonzero(np.diff(inverse[sort])) + 1
            groups = np.split(coeffs[sort], bounds)
            merged = np.array([math.fsum(g.tolist()) for g in groups])
        else:
            merged = np.bincount(inverse.ravel(), weights=coeffs, minlength=unique.size)
    keep = merged != 0
    index = order[keep]
    return TermPolynomial(powers[index], merged[keep], exponents[index], symbols, exact)


# Parsing ------------------------------------------------------------------

_BUCKET = re.compile(rb"\n \+ s\^(\d+) *\(\n")
_CLOSE = b"\n        )"
_SMALL_REGION = 1 << 16
_CHUNK = 1 << 22


_LOOKUP_CACHE: dict = {}


class _Vocabulary:
    """Symbol names seen in one function, in order of first use, with numeric keys."""

    def __init__(self, names: Sequence[str]) -> None:
        self.names: list[str] = []
        self.index: dict[bytes, int] = {}
        for name in names:
            self.add(name.encode("latin-1"))

    def add(self, name: bytes) -> int:
        if name not in self.index:
            self.index[name] = len(self.names)
            self.names.append(name.decode("latin-1"))
        return self.index[name]

    def lookup_table(self):
        """A collision-free hash table of the names: (modulus, slot ids, packed low, packed high)."""
        key = tuple(self.names)
        if key not in _LOOKUP_CACHE:
            if len(_LOOKUP_CACHE) > 64:
                _LOOKUP_CACHE.clear()
            _LOOKUP_CACHE[key] = self._build_lookup_table()
        return _LOOKUP_CACHE[key]

    def _build_lookup_table(self):
        items = [(name, ident) for name, ident in self.index.items() if 0 < len(name) <= 12]
        if len(items) != len(self.index) or not items:
            return None
        lows = np.array([_pack(n)[0] for n, _ in items], dtype=np.uint64)
        highs = np.array([_pack(n)[1] for n, _ in items], dtype=np.uint64)
        hashes = _hash(lows, highs)
        order_ids = np.array([i for _, i in items], dtype=np.int64)
        for modulus in range(max(8 * len(items), 61), 1 << 20, 7):
            keys = hashes % np.uint64(modulus)
            if np.unique(keys).size == len(items):
                slots = np.full(modulus, -1, dtype=np.int64)
                slots[keys.astype(np.int64)] = order_ids
                vocab_low = np.zeros(len(self.names), dtype=np.uint64)
                vocab_high = np.zeros(len(self.names), dtype=np.uint64)
                vocab_low[order_ids] = lows
                vocab_high[order_ids] = highs
                return modulus, slots, vocab_low, vocab_high
        return None


def _pack(name: bytes) -> tuple[int, int]:
    padded = name + b"\0" * (16 - len(name))
    return (int.from_bytes(padded[:8], "little"),
            int.from_bytes(padded[8:], "little") * 32 + len(name))


def _hash(low: np.ndarray, high: np.ndarray) -> np.ndarray:
    with np.errstate(over="ignore"):
        return low * np.uint64(0x9E3779B97F4A7C15) ^ high * np.uint64(0xC2B2AE3D27D4EB4F)


@dataclass
class _Region:
    power: int
    text: bytes


def parse_body(output: bytes, start: int, stop: int, vocabulary: _Vocabulary, data: np.ndarray | None = None):
    # the body starts right after its frame line: "\n" then the buckets, or "\n        0\n"
    """Parse the polynomial body ``output[start:stop]``.

    Returns per bucket the powers, coefficients and (term, symbol id, exponent)
    triples, and whether every coefficient was a whole number written in full.
    Large bodies are read with NumPy straight from ``output``, without copies.
    """
    powers: list[np.ndarray] = []
    coeffs: list[np.ndarray] = []
    entries: list[tuple[np.ndarray, np.ndarray, np.ndarray]] = []
    exact = True
    offset = 0
    position = start
    found = False
    while True:
        match = _BUCKET.match(output, position, stop)
        if match is None:
            break
        found = True
        power = int(match.group(1))
        region_start = match.end()
        region_stop = output.find(_CLOSE, region_start - 1, stop)
        if region_stop < 0:
            raise OutputFormatError("a power of s has no closing parenthesis")
        position = region_stop + len(_CLOSE)
        if region_stop <= region_start:
            continue
        for chunk_start, chunk_stop in _chunks(output, region_start, region_stop):
            c, (t, i, e), chunk_exact = _parse_region(output, chunk_start, chunk_stop, vocabulary, data)
            powers.append(np.full(c.size, power, np.int16))
            coeffs.append(c)
            entries.append((t + offset, i, e))
            offset += c.size
            exact = exact and chunk_exact
    if not found:
        if output.startswith(b"\n        0\n", position):
            position += 11
        elif output.startswith(b"\n", position) and output[position:stop].strip():
            raise OutputFormatError("a polynomial could not be read")
    elif output.startswith(b"\n", position):
        position += 1
    return powers, coeffs, entries, exact, position


def _chunks(output: bytes, start: int, stop: int) -> list[tuple[int, int]]:
    pieces = []
    while stop - start > _CHUNK:
        cut = output.find(b"\n", start + _CHUNK, stop)
        if cut < 0:
            break
        pieces.append((start, cut))
        start = cut + 1
    pieces.append((start, stop))
    return pieces


def _parse_region(output: bytes, start: int, stop: int, vocabulary: _Vocabulary, data):
    if stop - start <= _SMALL_REGION or data is None:
        return _parse_region_python(output[start:stop], vocabulary)
    result = _parse_region_numpy(data, start, stop, vocabulary)
    if result is None:
        return _parse_region_python(output[start:stop], vocabulary)
    return result


_TOKEN = re.compile(rb"[^ ]+")


def _coefficient(text: bytes) -> tuple[float, bool]:
    try:
        value = float(text)
    except ValueError as error:
        raise OutputFormatError(f"not a coefficient: {text!r}") from error
    whole = text.lstrip(b"-").isdigit()
    return value, whole


def _parse_region_python(region: bytes, vocabulary: _Vocabulary):
    coeffs: list[float] = []
    term_ids: list[int] = []
    symbol_ids: list[int] = []
    exps: list[int] = []
    exact = True
    for row, line in enumerate(region.split(b"\n")):
        tokens = [(m.start(), m.end()) for m in _TOKEN.finditer(line)]
        if not tokens:
            raise OutputFormatError("an empty term line")
        value, whole = _coefficient(line[tokens[0][0]:tokens[0][1]])
        coeffs.append(value)
        exact = exact and whole
        for k in range(1, len(tokens)):
            start, end = tokens[k]
            gap = (tokens[k + 1][0] - end - 1) if k + 1 < len(tokens) else len(line) - end
            name_end, exponent = _split_symbol(line, start, end, gap)
            term_ids.append(row)
            symbol_ids.append(vocabulary.add(line[start:name_end]))
            exps.append(exponent)
    return (np.array(coeffs, dtype=np.float64),
            (np.array(term_ids, np.int64), np.array(symbol_ids, np.int64), np.array(exps, np.int64)),
            exact)


def _split_symbol(line: bytes, start: int, end: int, gap: int) -> tuple[int, int]:
    """Where a printed symbol's name ends and its exponent, from the blanks after it."""
    if gap == 3:
        return end, 1
    if gap == 1 and end - start >= 3 and line[end - 2] == 0x5E:
        return end - 2, line[end - 1] - 48
    if gap == 0:
        for digits in (2, 3):
            caret = end - digits - 1
            if caret > start and line[caret] == 0x5E and line[caret + 1:end].isdigit():
                return caret, int(line[caret + 1:end])
    raise OutputFormatError(f"unreadable symbol {line[start:end]!r}")


_MASKS = np.array([(1 << (8 * k)) - 1 for k in range(9)], dtype=np.uint64)


def _parse_region_numpy(data: np.ndarray, start: int, stop: int, vocabulary: _Vocabulary):
    """Vectorised form of :func:`_parse_region_python`; None when it cannot be sure.

    Every term line is nine blanks, the coefficient and the symbols; a token
    that starts ten bytes after a line feed is therefore a coefficient.
    """
    table = vocabulary.lookup_table()
    if table is None:
        return None
    modulus, slots, vocab_low, vocab_high = table
    body = data[start:stop]
    size = stop - start
    token = body != 32
    token &= body != 10
    starts = np.flatnonzero(token[1:] > token[:-1])
    starts += 1
    ends = np.flatnonzero(token[:-1] > token[1:])
    ends += 1
    if token[-1]:
        ends = np.append(ends, size)
    del token
    if not starts.size or starts[0] != 9:
        return None
    absolute = starts + start
    first = data[absolute - 10] == 10
    first[0] = True
    count = starts.size
    last = np.empty(count, dtype=bool)
    last[-1] = True
    last[:-1] = first[1:]
    gaps = np.empty(count, dtype=np.int64)
    gaps[:-1] = starts[1:] - ends[:-1] - 1
    gaps[last[:-1].nonzero()[0]] -= 9
    gaps[-1] = size - ends[-1]
    line_of = np.cumsum(first, dtype=np.int32)
    line_of -= 1
    symbol = ~first
    s_start = absolute[symbol]
    s_end = ends[symbol] + start
    s_gap = gaps[symbol]
    s_line = line_of[symbol]
    del gaps, line_of
    name_end = s_end.copy()
    exponent = np.ones(s_end.size, dtype=np.int64)
    one_digit = s_gap == 1
    many = s_gap == 0
    if np.any((s_gap != 3) & ~one_digit & ~many):
        return None
    if np.any(one_digit):
        e = s_end[one_digit]
        if np.any(data[e - 2] != 0x5E):
            return None
        name_end[one_digit] = e - 2
        exponent[one_digit] = data[e - 1].astype(np.int64) - 48
    if np.any(many):
        e = s_end[many]
        two = data[e - 3] == 0x5E
        three = ~two & (data[e - 4] == 0x5E)
        if not np.all(two | three):
            return None
        d1 = data[e - 1].astype(np.int64) - 48
        d2 = data[e - 2].astype(np.int64) - 48
        d3 = data[e - 3].astype(np.int64) - 48
        exponent[many] = np.where(two, d2 * 10 + d1, d3 * 100 + d2 * 10 + d1)
        name_end[many] = np.where(two, e - 3, e - 4)
    lengths = name_end - s_start
    del name_end
    if np.any(lengths > 12) or np.any(lengths < 1):
        return None
    windows = np.ndarray((data.size - 7,), dtype="<u8", buffer=data, offset=0, strides=(1,))
    low = windows[s_start] & _MASKS[np.minimum(lengths, 8)]
    if np.all(vocab_high < np.uint64(32)):  # every name fits in eight bytes
        if np.any(lengths > 8):
            return None
        high = lengths.astype(np.uint64)
    else:
        high = (windows[s_start + 8] & _MASKS[np.maximum(lengths - 8, 0)]) * np.uint64(32)
        high += lengths.astype(np.uint64)
    symbol_ids = slots[_hash(low, high) % np.uint64(modulus)]
    if np.any(symbol_ids < 0) or not np.array_equal(vocab_low[symbol_ids], low):
        return None
    if np.any(lengths > 8) and not np.array_equal(vocab_high[symbol_ids], high):
        return None
    del low, high
    # coefficients: few distinct texts
    c_start = absolute[first]
    c_end = ends[first] + start
    c_len = c_end - c_start
    if np.any(c_len > 16):
        return None
    c_low = windows[c_start] & _MASKS[np.minimum(c_len, 8)]
    c_high = windows[c_start + 8] & _MASKS[np.maximum(c_len - 8, 0)]
    c_keys = _hash(c_low, c_high ^ (c_len.astype(np.uint64) << np.uint64(59)))
    # the usual coefficients, one digit, are read directly; the rest by their distinct texts
    single = c_len == 1
    coeffs = np.zeros(c_len.size, dtype=np.float64)
    digits = data[c_start[single]].astype(np.float64) - 48.0
    if np.any((digits < 0) | (digits > 9)):
        return None
    coeffs[single] = digits
    other = np.flatnonzero(~single)
    exact = True
    if other.size:
        unique, representative, inverse = np.unique(c_keys[other], return_index=True, return_inverse=True)
        inverse = inverse.ravel()
        o_low, o_high, o_len = c_low[other], c_high[other], c_len[other]
        if not (np.all(o_low[representative][inverse] == o_low) and np.all(o_high[representative][inverse] == o_high)
                and np.all(o_len[representative][inverse] == o_len)):
            return None
        values = np.empty(unique.size)
        for k, r in enumerate(representative):
            index = other[r]
            value, whole = _coefficient(bytes(data[c_start[index]:c_end[index]]))
            values[k] = value
            exact = exact and whole
        coeffs[other] = values[inverse]
    return coeffs, (s_line, symbol_ids, exponent), exact


def assemble(powers: list[np.ndarray], coeffs: list[np.ndarray],
             entries: list[tuple[np.ndarray, np.ndarray, np.ndarray]], symbol_count: int,
             column_of: np.ndarray, symbols: tuple[str, ...], exact: bool) -> TermPolynomial:
    """Build a :class:`TermPolynomial` from parsed buckets; ``column_of`` maps symbol ids to columns."""
    if not coeffs:
        return TermPolynomial.zero(symbols)
    all_coeffs = np.concatenate(coeffs)
    matrix = np.zeros((all_coeffs.size, len(symbols)), dtype=np.uint8)
    flat = matrix.reshape(-1)
    width = len(symbols)
    for term_ids, symbol_ids, exps in entries:
        if term_ids.size:
            if np.any(exps > 255):
                raise OutputFormatError("an exponent above 255")
            index = term_ids.astype(np.int64) * width
            index += column_of[symbol_ids]
            flat[index] = exps
    return TermPolynomial(np.concatenate(powers), all_coeffs, matrix, symbols, exact)
