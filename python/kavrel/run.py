"""Analyse netlists: prepare the input, run kavrel, read its output into results."""

from __future__ import annotations

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
            names: NameMap | None = None) -> list[NetlistResult]:
    """Analyse every netlist of ``text`` and return one result per netlist.

    ``values`` (element name -> number or SI text such as ``"4.7k"``) are used
    instead of the netlists' own ``v`` values (which kavrel's reader rounds when
    the values come from elsewhere, such as a SPICE conversion) and override
    them.  Raises :class:`KavrelRunError` when kavrel stops reading the input;
    the exception's ``results`` hold the netlists analysed before.
    """
    raw = text.encode("utf-8").decode("latin-1")
    prepared = prepare(raw)
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
    body = _ELAPSED.sub(b"", output)
    segments = body.split(_SEGMENT)[1:]
    results: list[NetlistResult] = []
    for index, segment in enumerate(segments):
        source = prepared.netlists[index] if index < len(prepared.netlists) else None
        fatal = _fatal_message(segment, source)
        if fatal is not None:
            raise KavrelRunError(f"netlist {index + 1}: {fatal}", results, index)
        if source is None or not source.complete:
            if source is not None and source.stop:
                raise KavrelRunError(f"netlist {index + 1}: {source.stop}; it was not analysed",
                                     results, index)
            continue
        results.append(_read_netlist(segment, source, values, names))
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


def _read_netlist(segment: bytes, source: NetlistSource, values, names: NameMap) -> NetlistResult:
    labels = source.port_labels or (0, 0, 0, 0)
    selected = source.selected if source.selected is not None else [r.name for r in PARAM_ROWS]
    rows = [row for row in PARAM_ROWS if row.name in selected]
    scattering_norm = ("network" if source.norm_networks else normalization_name(source.norm_mode))
    first = segment.find(_FUNCTION)
    echo = segment if first < 0 else segment[:first]
    warnings = [line for line in _lines(echo) if any(w.decode() in line for w in _WARNINGS)]
    messages = [line for line in _lines(echo) if any(m.decode() in line for m in _MEMORY)]
    vocabulary_names = source.names + ["Y0", "Z0"]
    element_names = tuple(source.names)
    netlist_values = _effective_values(source, values, names)
    printed: list[tuple[str, bytes]] = []
    position = first
    while 0 <= position:
        header_start = position + len(_FUNCTION)
        header_end = segment.find(b"\n", header_start)
        header = segment[header_start:header_end].decode("latin-1")
        following = segment.find(_FUNCTION, header_end)
        block = segment[header_end:following if following >= 0 else len(segment)]
        printed.append((header, block))
        position = following
    functions: dict[str, Function] = {}
    pending = list(rows)
    for header, block in printed:
        row = next((r for r in pending if header_line(r, labels, source.norm_mode) == header), None)
        if row is None:
            raise OutputFormatError(f"unexpected function header {header!r}")
        for skipped in pending[:pending.index(row)]:
            functions[display_name(skipped.name)] = _missing(skipped, labels, source, messages, names)
        pending = pending[pending.index(row) + 1:]
        functions[display_name(row.name)] = _read_function(
            row, header, block, labels, source, vocabulary_names, element_names,
            netlist_values, names, messages, scattering_norm)
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


def _read_function(row: ParamRow, header: str, block: bytes, labels, source: NetlistSource,
                   vocabulary_names, element_names, values, names: NameMap,
                   messages: list[str], scattering_norm: str) -> Function:
    normalization = scattering_norm if row.scattering else None
    numerator_at = block.find(_NUMERATOR)
    denominator_at = block.find(_DENOMINATOR)
    end_at = block.find(_END)
    if numerator_at < 0 or denominator_at < numerator_at or end_at < denominator_at:
        failure = _lines(block)
        messages.extend(failure)
        reason = "not computed: " + ("; ".join(failure) if failure else "kavrel printed no polynomials")
        return Function(display_name(row.name), row, header, labels, normalization, None, None, (),
                        {}, element_names, names, reason)
    before = _lines(block[:numerator_at])
    after = _lines(block[end_at + len(_END):])
    messages.extend(line for line in before + after if any(m.decode() in line for m in _MEMORY))
    if any("insufficient memory to complete processing" in line for line in before):
        return Function(display_name(row.name), row, header, labels, normalization, None, None, (),
                        {}, element_names, names, "not computed: insufficient memory to complete processing")
    vocabulary = _Vocabulary(vocabulary_names)
    num_parts = parse_body(block[numerator_at + len(_NUMERATOR):denominator_at], vocabulary)
    den_parts = parse_body(block[denominator_at + len(_DENOMINATOR):end_at], vocabulary)
    used = np.zeros(len(vocabulary.names), dtype=bool)
    for parts in (num_parts, den_parts):
        for _, symbol_ids, _ in parts[2]:
            used[np.unique(symbol_ids)] = True
    symbols = tuple(name for name, flag in zip(vocabulary.names, used) if flag)
    column_of = np.cumsum(used) - 1
    numerator = assemble(num_parts[0], num_parts[1], num_parts[2], len(vocabulary.names),
                         column_of, symbols, num_parts[3])
    denominator = assemble(den_parts[0], den_parts[1], den_parts[2], len(vocabulary.names),
                           column_of, symbols, den_parts[3])
    function_values = {k: v for k, v in values.items()}
    return Function(display_name(row.name), row, header, labels, normalization, numerator,
                    denominator, symbols, function_values, element_names, names)
