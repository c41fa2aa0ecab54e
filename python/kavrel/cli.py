"""Command line: ``python3 -m kavrel formulas|bode|poles|spice ...``."""

from __future__ import annotations

import argparse
import csv
import io
import os
import sys
import tempfile
from typing import Sequence

from .errors import KavrelError
from .export import FORMATS, FORMULA_TERM_LIMIT, comment, export
from .names import NameMap
from .results import Function, NetlistResult, TooLargeError
from .run import analyse
from .units import parse_value

try:  # the SPICE deck options live in their own subpackage
    from .spice import cli as spice_cli
except ImportError:  # pragma: no cover - the subpackage is part of the package
    spice_cli = None


class UsageError(KavrelError):
    """Bad command-line input."""


def parse_values(items: Sequence[str] | None) -> dict[str, str]:
    """``NAME=VALUE,NAME=VALUE`` (repeatable) into a dict; values are checked here."""
    result: dict[str, str] = {}
    for item in items or []:
        for part in item.split(","):
            part = part.strip()
            if not part:
                continue
            name, sep, value = part.partition("=")
            if not sep or not name.strip() or not value.strip():
                raise UsageError(f"malformed value {part!r}: write NAME=VALUE, e.g. r1=4.7k")
            parse_value(value.strip())
            result[name.strip()] = value.strip()
    return result


def _read_input(args: argparse.Namespace) -> tuple[str, dict[str, float | str], NameMap]:
    """The netlist text, its exact values and the name map (from a file, stdin or a SPICE deck)."""
    conversion = spice_cli.load_deck(args) if spice_cli is not None else None
    if conversion is not None:
        if getattr(args, "file", None):
            raise UsageError("give either FILE or --spice, not both")
        return conversion.netlist, dict(conversion.values), NameMap.from_conversion(conversion)
    path = getattr(args, "file", None)
    if path in (None, "-"):
        if getattr(args, "command", "") != "formulas" and path is None:
            raise UsageError("no input: give a netlist FILE (or --spice DECK)")
        return sys.stdin.read(), {}, NameMap()
    try:
        with open(path, encoding="utf-8", errors="surrogateescape") as handle:
            return handle.read(), {}, NameMap()
    except OSError as error:
        raise UsageError(f"cannot read {path}: {error.strerror}") from error


def _results(args: argparse.Namespace, netlist_values: bool = True) -> list[NetlistResult]:
    text, deck_values, names = _read_input(args)
    given = parse_values(getattr(args, "values", None))
    values: dict[str, float | str] = dict(deck_values)
    values.update(given)
    results = analyse(text, values=values or None, names=names, netlist_values=netlist_values)
    if not results:
        raise UsageError("the input holds no complete netlist")
    if given:
        known = set()
        for result in results:
            known |= set(result.element_names) | {"Y0", "Z0"} | set(names.elements.values())
        unknown = [n for n in given if n not in known]
        if unknown:
            raise UsageError("no element named " + ", ".join(unknown) + " in the netlist")
    return results


def _pick(results: list[NetlistResult], args: argparse.Namespace) -> NetlistResult:
    number = getattr(args, "netlist", 1)
    if not 1 <= number <= len(results):
        raise UsageError(f"--netlist {number}: the input has {len(results)} netlist(s)")
    return results[number - 1]


def _functions(result: NetlistResult, params: Sequence[str]) -> list[Function]:
    return [result.function(name) for name in params]


def _publish(temporary: str, target: str) -> None:
    """Give the finished file the usual permissions and move it into place."""
    umask = os.umask(0)
    os.umask(umask)
    os.chmod(temporary, 0o666 & ~umask)
    os.replace(temporary, target)


def _write_atomic(path: str, data: bytes) -> str:
    """Write to a temporary file beside ``path``; returns its name for a later rename."""
    directory = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(prefix=".kavrel-", dir=directory)
    with os.fdopen(handle, "wb") as stream:
        stream.write(data)
    return temporary


# formulas -------------------------------------------------------------------
def _formula_lines(function: Function, args: argparse.Namespace, fmt: str, limit: int | None,
                   extra: dict | None) -> list[str]:
    if not function.computed or function.undefined:
        return [export(function, fmt, limit=limit, extra=extra)]
    if args.approximate is not None:
        from .approximate import approximate
        result = approximate(function, args.approximate, tuple(args.band))
        return [comment(result.report(), fmt), export(result.function, fmt, limit=limit, extra=extra)]
    if args.simplify:
        try:
            function = function.simplified(limit)
        except TooLargeError as error:
            return [comment(f"{function.name}: not simplified: {error}", fmt),
                    export(function, fmt, limit=limit, extra=extra)]
    return [export(function.substituted(), fmt, limit=limit, extra=extra)]


def run_formulas(args: argparse.Namespace) -> int:
    if (args.approximate is None) != (args.band is None):
        raise UsageError("--approximate TOL needs --band F1 F2 (and --band needs --approximate)")
    if args.approximate is not None and args.symbolic:
        raise UsageError("--approximate needs values; it cannot be combined with --symbolic")
    limit = None if args.max_terms == 0 else args.max_terms
    results = _results(args, netlist_values=not args.symbolic)
    lines: list[str] = []
    wanted = list(args.param or [])
    found = set()
    for result in results:
        if len(results) > 1:
            lines.append(comment(f"netlist {result.index + 1}", args.format))
        for function in result.functions.values():
            if wanted:
                matches = [w for w in wanted if _same_param(result, w, function)]
                if not matches:
                    continue
                found.update(matches)
            extra = {"netlist": result.index + 1} if args.format == "json" else None
            lines.extend(_formula_lines(function, args, args.format, limit, extra))
        for warning in result.warnings:
            lines.append(comment(f"kavrel: {warning}", args.format))
    missing = [w for w in wanted if w not in found]
    if missing:
        raise UsageError("no parameter " + ", ".join(missing) + " in kavrel's output")
    sys.stdout.write("\n".join(lines) + ("\n" if lines else ""))
    return 0


def _same_param(result: NetlistResult, name: str, function: Function) -> bool:
    try:
        return result.function(name) is function
    except KavrelError:
        return False


# bode -----------------------------------------------------------------------
def run_bode(args: argparse.Namespace) -> int:
    from .plots import bode_data, bode_plot, frequencies
    if not args.param:
        raise UsageError("bode needs at least one --param NAME")
    freqs = frequencies(args.f_from, args.f_to, args.points)
    result = _pick(_results(args), args)
    curves = []
    for function in _functions(result, args.param):
        if not function.computed:
            raise UsageError(f"{function.name}: {function.error}")
        if function.undefined:
            raise UsageError(f"{function.name} is undefined (its denominator is zero)")
        missing = function.missing_values()
        if missing:
            raise UsageError(f"{function.name} needs values for plotting: " + ", ".join(missing) +
                             " (give them with --values or v entries)")
        curves.append(bode_data(function, freqs))
    csv_text = _bode_csv(curves) if args.csv else None
    figure = _write_plot(lambda path: bode_plot(curves, path), args.output)
    pending = [(figure, args.output)]
    if csv_text is not None:
        pending.append((_write_atomic(args.csv, csv_text.encode()), args.csv))
    for temporary, target in pending:
        _publish(temporary, target)
    return 0


def _write_plot(draw, path: str) -> str:
    from .plots import _figure_format
    fmt = _figure_format(path)
    directory = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(prefix=".kavrel-", suffix="." + fmt, dir=directory)
    os.close(handle)
    try:
        draw(temporary)
    except Exception:
        os.unlink(temporary)
        raise
    return temporary


def _bode_csv(curves) -> str:
    stream = io.StringIO()
    writer = csv.writer(stream, lineterminator="\n")
    several = len(curves) > 1
    writer.writerow((["param"] if several else []) + ["f_hz", "mag_db", "phase_deg"])
    for curve in curves:
        for f, m, p in zip(curve.freqs.tolist(), curve.magnitude_db.tolist(), curve.phase_deg.tolist()):
            writer.writerow(([curve.name] if several else []) + [repr(f), repr(m), repr(p)])
    return stream.getvalue()


# poles ----------------------------------------------------------------------
def run_poles(args: argparse.Namespace) -> int:
    from .numeric import bandwidth_3db, dc_gain, poles_zeros
    result = _pick(_results(args), args)
    function = result.function(args.param)
    if not function.computed:
        raise UsageError(f"{function.name}: {function.error}")
    missing = function.missing_values()
    if missing:
        raise UsageError(f"{function.name} needs values for " + ", ".join(missing) +
                         " (give them with --values or v entries)")
    pz = poles_zeros(function)
    lines = [f"# {function.name}: {function.shown_header}"]
    for kind, roots in (("pole", pz.poles), ("zero", pz.zeros)):
        for root in roots:
            line = f"{kind} {root.real!r} {root.imag!r}"
            if root.f0 is not None:
                line += f" f0={root.f0!r} Q={root.q!r}"
            lines.append(line)
    gain = dc_gain(function)
    lines.append(f"dc_gain {gain!r}" if gain is not None else "dc_gain inf")
    bandwidth = bandwidth_3db(function)
    lines.append(f"bandwidth_3db_hz {bandwidth!r}" if bandwidth is not None else "bandwidth_3db_hz none")
    text = "\n".join(lines) + "\n"
    if args.plot:
        from .plots import pole_zero_plot
        temporary = _write_plot(lambda path: pole_zero_plot([r.value for r in pz.poles],
                                                            [r.value for r in pz.zeros], path,
                                                            f"{function.name} poles and zeros"), args.plot)
        _publish(temporary, args.plot)
    sys.stdout.write(text)
    return 0


# parser ---------------------------------------------------------------------
def _deck_options(parser: argparse.ArgumentParser) -> None:
    if spice_cli is not None:
        spice_cli.add_deck_options(parser)


def build_parser() -> argparse.ArgumentParser:
    parser = _Parser(prog="kavrel", description="kavrel's results as formulas, numbers and plots")
    commands = parser.add_subparsers(dest="command", required=True)

    formulas = commands.add_parser("formulas", help="print every function as one line")
    formulas.add_argument("file", nargs="?", metavar="FILE", help="netlist file (default: standard input)")
    formulas.add_argument("--format", choices=FORMATS, default="sympy")
    formulas.add_argument("--values", action="append", metavar="NAME=VALUE,...")
    formulas.add_argument("--symbolic", action="store_true", help="do not substitute the netlist's values")
    formulas.add_argument("--simplify", action="store_true", help="cancel common factors, normalise the sign")
    formulas.add_argument("--approximate", type=float, metavar="TOL", help="drop small terms (relative tolerance)")
    formulas.add_argument("--band", type=parse_value, nargs=2, metavar=("F1", "F2"), help="band in Hz")
    formulas.add_argument("--param", action="append", metavar="NAME", help="only this parameter (repeatable)")
    formulas.add_argument("--max-terms", type=int, default=FORMULA_TERM_LIMIT, metavar="N",
                          help=f"skip functions with more terms (default {FORMULA_TERM_LIMIT}; 0: no limit)")
    _deck_options(formulas)
    formulas.set_defaults(handler=run_formulas)

    bode = commands.add_parser("bode", help="Bode plot (and CSV) of one or more functions")
    bode.add_argument("file", nargs="?", metavar="FILE")
    bode.add_argument("--param", action="append", metavar="NAME", required=False)
    bode.add_argument("--values", action="append", metavar="NAME=VALUE,...")
    bode.add_argument("--from", dest="f_from", type=parse_value, default=1.0, metavar="F1")
    bode.add_argument("--to", dest="f_to", type=parse_value, default=1e6, metavar="F2")
    bode.add_argument("--points", type=int, default=200)
    bode.add_argument("--output", required=True, metavar="FILE.svg|FILE.png")
    bode.add_argument("--csv", metavar="FILE")
    bode.add_argument("--netlist", type=int, default=1, metavar="N", help="which netlist of the input (default 1)")
    _deck_options(bode)
    bode.set_defaults(handler=run_bode)

    poles = commands.add_parser("poles", help="poles and zeros (rad/s), f0 and Q")
    poles.add_argument("file", nargs="?", metavar="FILE")
    poles.add_argument("--param", required=True, metavar="NAME")
    poles.add_argument("--values", action="append", metavar="NAME=VALUE,...")
    poles.add_argument("--netlist", type=int, default=1, metavar="N")
    poles.add_argument("--plot", metavar="FILE.svg|FILE.png", help="also write a pole-zero map")
    _deck_options(poles)
    poles.set_defaults(handler=run_poles)

    if spice_cli is not None:
        spice_cli.register_command(commands)
    return parser


class _Parser(argparse.ArgumentParser):
    """Usage errors exit with status 1, like every other bad input."""

    def error(self, message: str):  # type: ignore[override]
        self.print_usage(sys.stderr)
        print(f"{self.prog}: error: {message}", file=sys.stderr)
        raise SystemExit(1)


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        return args.handler(args)
    except (KavrelError, ValueError, OSError) as error:
        print(f"kavrel: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
