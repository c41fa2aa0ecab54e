"""Analyse netlists: prepare the input, run kavrel, read its output into results."""

from __future__ import annotations

import contextlib
import ctypes
import os
import re
from typing import Mapping

import numpy as np

from .errors import KavrelError
from .names import NameMap
from .netlist import NetlistSource, PreparedInput, prepare
from .params import PARAM_ROWS, ParamRow, display_name, header_line, normalization_name
from .results import Function, KavrelRunError, NetlistResult, _number
from .runner import run_kavrel
from .terms import OutputFormatError, _Vocabulary, assemble, parse_body

_SEGMENT = b"\ninput data:\n"
_FUNCTION = b"\n Function:\n "
_NUMERATOR = b"\n Numerator:\n"
_DENOMINATOR = b"\n Denominator:\n"
_END = b"\n End:\n"
_ELAPSED = re.compile(rb"\{elapsed time: \d+/\d+ sec\.\}\n?$")

_WARNINGS = (b"does not match the list of parameter names", b"was truncated to",
             b"must be less than 1000", b"can't find ")
_MEMORY = (b"insufficient memory", b"can't allocate space", b"resize failed",
           b"raw i-trees  evaluated", b"qualified common trees")
_FATAL = (b"unrecognized element prefix--", b"error-- more than one port indicator",
          b"n1 node# node#  or n2 node# node#", b"exceeds limit of",
          b"please provide a port node indication")


def analyse(text: str, *, executable: str | os.PathLike[str] | None = None,
            values: Mapping[str, "float | str"] | None = None,
            names: NameMap | None = None, netlist_values: bool = True) -> list[NetlistResult]:
    """Analyse every netlist of ``text`` and return one result per netlist.

    ``values`` (element name -> number or SI text such as ``"4.7k"``) are used
    instead of the netlists' own ``v`` values (which kavrel's reader rounds when
    the values come from elsewhere, such as a SPICE conversion) and override
    them.  Raises :class:`KavrelRunError` when kavrel stops reading the input;
    the exception's ``results`` hold the netlists analysed before.
    With ``netlist_values=False`` the netlists' ``v`` values are ignored.
    """
    raw = text.encode("utf-8", "surrogateescape").decode("latin-1")
    prepared = prepare(raw)
    if not netlist_values:
        for source in prepared.netlists:
            source.slot_values.clear()
    output = run_kavrel(prepared.text, executable)
    return read_output(output, prepared, values=values, names=names)


def analyse_file(path: str | os.PathLike[str], **options) -> list[NetlistResult]:
    """Analyse the netlists in a file (see :func:`analyse`)."""
    try:
        with open(path, encoding="utf-8", errors="surrogateescape") as handle:
            text = handle.read()
    except OSError as error:
        raise KavrelError(f"cannot read {path}: {error.strerror}") from error
    return analyse(text, **options)


def _lines(text: bytes) -> list[str]:
    return [line.decode("latin-1").strip() for line in text.split(b"\n") if line.strip()]


def read_output(output: bytes, prepared: PreparedInput, *,
                values: Mapping[str, "float | str"] | None = None,
                names: NameMap | None = None) -> list[NetlistResult]:
    """Turn kavrel's output for ``prepared`` into results."""
    names = names or NameMap()
    end = output.rfind(b"{elapsed time:")
    end = len(output) if end < 0 else end
    bounds = []
    position = output.find(_SEGMENT, 0, end)
    while position >= 0:
        following = output.find(_SEGMENT, position + len(_SEGMENT), end)
        bounds.append((position + len(_SEGMENT), following if following >= 0 else end))
        position = following
    data = np.frombuffer(output, dtype=np.uint8)
    with _large_allocations(len(output)):
        return _read_segments(output, data, bounds, prepared, values, names)


@contextlib.contextmanager
def _large_allocations(size: int):
    """Let the C heap keep freed memory while a large output is read.

    Fresh pages are expensive on some machines; reading hundreds of megabytes
    allocates and frees many arrays of a few megabytes, which the heap can
    reuse instead of returning them to the system each time.
    """
    libc = None
    if size > (1 << 24):
        try:
            libc = ctypes.CDLL(None)
            libc.mallopt(-3, 1 << 25)  # M_MMAP_THRESHOLD
            libc.mallopt(-1, 1 << 31 - 1)  # M_TRIM_THRESHOLD
        except (OSError, AttributeError):
            libc = None
    try:
        yield
    finally:
        if libc is not None:
            libc.mallopt(-1, 128 * 1024)
            libc.mallopt(-3, 128 * 1024)
            libc.malloc_trim(0)


def _read_segments(output: bytes, data: np.ndarray, bounds, prepared: PreparedInput, values,
                   names: NameMap) -> list[NetlistResult]:
    results: list[NetlistResult] = []
    for index, (seg_start, seg_stop) in enumerate(bounds):
        source = prepared.netlists[index] if index < len(prepared.netlists) else None
        head = output[seg_start:min(seg_stop, seg_start + 65536)]
        fatal = _fatal_message(head if seg_stop - seg_start > 65536 else head, source)
        if fatal is not None:
            raise KavrelRunError(f"netlist {index + 1}: {fatal}", results, index)
        if source is None or not source.complete:
            if source is not None and source.stop:
                raise KavrelRunError(f"netlist {index + 1}: {source.stop}; it was not analysed",
                                     results, index)
            continue
        results.append(_read_netlist(output, data, seg_start, seg_stop, source, values, names))
    return results


def _fatal_message(segment: bytes, source: NetlistSource | None) -> str | None:
    if source is not None and source.stop == "help requested":
        return "the netlist asks for the help text (h entry); kavrel printed it and stopped"
    for marker in _FATAL:
        where = segment.find(marker)
        if where >= 0:
            if marker == b"exceeds limit of":
                where = max(segment.rfind(b"number of ", 0, where), 0)
            lines = _lines(segment[where:])
            keep = 2 if marker.startswith((b"n1 node#", b"unrecognized", b"exceeds")) else 4
            return " ".join(lines[:keep])
    return None


def _effective_values(source: NetlistSource, values, names: NameMap) -> dict[str, float]:
    merged = dict(source.values)
    if values:
        known = set(source.names) | {"Y0", "Z0"}
        reverse = {shown: kavrel for kavrel, shown in names.elements.items()}
        for key, value in values.items():
            name = key if key in known else reverse.get(key, key)
            if name not in known:
                raise KavrelError(f"no element named {key!r} in netlist {source.index + 1}")
            number = _number(key, value)
            if number == 0.0:
                merged.pop(name, None)
            else:
                merged[name] = number
    return merged


def _read_netlist(output: bytes, data: np.ndarray, seg_start: int, seg_stop: int,
                  source: NetlistSource, values, names: NameMap) -> NetlistResult:
    labels = source.port_labels or (0, 0, 0, 0)
    selected = source.selected if source.selected is not None else [r.name for r in PARAM_ROWS]
    rows = [row for row in PARAM_ROWS if row.name in selected]
    scattering_norm = ("network" if source.norm_networks else normalization_name(source.norm_mode))
    first = output.find(_FUNCTION, seg_start, seg_stop)
    echo = output[seg_start:seg_stop if first < 0 else first]
    warnings = [line for line in _lines(echo) if any(w.decode() in line for w in _WARNINGS)]
    messages = [line for line in _lines(echo) if any(m.decode() in line for m in _MEMORY)]
    vocabulary_names = source.names + ["Y0", "Z0"]
    element_names = tuple(source.names)
    netlist_values = _effective_values(source, values, names)
    functions: dict[str, Function] = {}
    pending = list(rows)
    position = first
    while 0 <= position:
        header_start = position + len(_FUNCTION)
        header_end = output.find(b"\n", header_start, seg_stop)
        if header_end < 0:
            raise OutputFormatError("a function header without its line end")
        header = output[header_start:header_end].decode("latin-1")
        row = next((r for r in pending if header_line(r, labels, source.norm_mode) == header), None)
        if row is None:
            raise OutputFormatError(f"unexpected function header {header!r}")
        for skipped in pending[:pending.index(row)]:
            functions[display_name(skipped.name)] = _missing(skipped, labels, source, messages, names)
        pending = pending[pending.index(row) + 1:]
        function, position = _read_function(row, header, output, data, header_end, seg_stop, labels,
                                            source, vocabulary_names, element_names, netlist_values,
                                            names, messages, scattering_norm)
        functions[display_name(row.name)] = function
    for skipped in pending:
        functions[display_name(skipped.name)] = _missing(skipped, labels, source, messages, names)
    return NetlistResult(source.index, functions, element_names, netlist_values, labels,
                         source.norm_mode, warnings, messages, names)


def _missing(row: ParamRow, labels, source: NetlistSource, messages: list[str], names: NameMap) -> Function:
    reason = "not computed: kavrel ran out of memory"
    if messages:
        reason += " (" + "; ".join(dict.fromkeys(messages)) + ")"
    return Function(display_name(row.name), row, header_line(row, labels, source.norm_mode), labels,
                    None, None, None, (), {}, tuple(source.names), names, reason)


def _read_function(row: ParamRow, header: str, output: bytes, data: np.ndarray, header_end: int,
                   seg_stop: int, labels, source: NetlistSource, vocabulary_names, element_names,
                   values, names: NameMap, messages: list[str],
                   scattering_norm: str) -> tuple[Function, int]:
    """Read one function after its header; returns it and where the next header starts (-1: none)."""
    normalization = scattering_norm if row.scattering else None

    def failed(reason: str) -> Function:
        return Function(display_name(row.name), row, header, labels, normalization, None, None, (),
                        {}, element_names, names, reason)

    if not output.startswith(_NUMERATOR, header_end + 1):
        following = output.find(_FUNCTION, header_end, seg_stop)
        text = _lines(output[header_end:following if following >= 0 else seg_stop])
        messages.extend(text)
        if any("insufficient memory to complete processing" in line for line in text):
            return failed("not computed: insufficient memory to complete processing"), following
        return failed("not computed: " + ("; ".join(text) if text else "kavrel printed no polynomials")), following
    vocabulary = _Vocabulary(vocabulary_names)
    num_parts = parse_body(output, header_end + 1 + len(_NUMERATOR), seg_stop, vocabulary, data)
    if not output.startswith(_DENOMINATOR, num_parts[4]):
        raise OutputFormatError(f"{row.name}: no denominator after the numerator")
    den_parts = parse_body(output, num_parts[4] + len(_DENOMINATOR), seg_stop, vocabulary, data)
    if not output.startswith(_END, den_parts[4]):
        raise OutputFormatError(f"{row.name}: no End line after the denominator")
    after = den_parts[4] + len(_END)
    following = output.find(_FUNCTION, after, seg_stop)
    trailing = _lines(output[after:following if following >= 0 else seg_stop])
    messages.extend(line for line in trailing if any(m.decode() in line for m in _MEMORY))
    used = np.zeros(len(vocabulary.names), dtype=bool)
    for parts in (num_parts, den_parts):
        for _, symbol_ids, _ in parts[2]:
            if symbol_ids.size:
                used |= np.bincount(symbol_ids, minlength=used.size) > 0
    symbols = tuple(name for name, flag in zip(vocabulary.names, used) if flag)
    column_of = np.cumsum(used) - 1
    numerator = assemble(num_parts[0], num_parts[1], num_parts[2], len(vocabulary.names),
                         column_of, symbols, num_parts[3])
    denominator = assemble(den_parts[0], den_parts[1], den_parts[2], len(vocabulary.names),
                           column_of, symbols, den_parts[3])
    function = Function(display_name(row.name), row, header, labels, normalization, numerator,
                        denominator, symbols, dict(values), element_names, names)
    return function, following
