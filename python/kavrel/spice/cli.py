"""Command-line glue: the --spice deck options and the `spice` subcommand."""

from __future__ import annotations

import argparse
import sys

from . import Conversion, SpiceError, read_deck_file


def add_deck_options(parser: argparse.ArgumentParser) -> None:
    """Add --spice DECK, --port1 P N and --port2 P N to a subcommand's parser."""
    group = parser.add_argument_group("SPICE deck")
    group.add_argument("--spice", metavar="DECK", help="read the circuit from a SPICE deck")
    group.add_argument("--port1", nargs=2, metavar=("NODE+", "NODE-"),
                       help="port 1 of the deck (default: the AC source's nodes)")
    group.add_argument("--port2", nargs=2, metavar=("NODE+", "NODE-"),
                       help="port 2 of the deck")


def load_deck(args: argparse.Namespace) -> Conversion | None:
    """The converted deck named by --spice, or None when it was not given."""
    path = getattr(args, "spice", None)
    if not path:
        return None
    return read_deck_file(
        path,
        port1=tuple(args.port1) if getattr(args, "port1", None) else None,
        port2=tuple(args.port2) if getattr(args, "port2", None) else None,
        params=_params(getattr(args, "param", None)),
        symbolic=bool(getattr(args, "symbolic", False)),
    )


def _params(given: list[str] | str | None) -> list[str] | None:
    if not given:
        return None
    return [given] if isinstance(given, str) else list(given)


def _run_spice(args: argparse.Namespace) -> int:
    try:
        conversion = read_deck_file(
            args.deck,
            port1=tuple(args.port1) if args.port1 else None,
            port2=tuple(args.port2) if args.port2 else None,
            params=list(args.param) if args.param else None,
            symbolic=args.symbolic,
        )
    except (SpiceError, OSError) as error:
        print(f"kavrel: {error}", file=sys.stderr)
        return 1
    sys.stdout.write(conversion.netlist)
    return 0


def register_command(subparsers) -> None:
    """Add the `spice DECK ...` subcommand, which writes the kavrel netlist on stdout."""
    parser = subparsers.add_parser("spice", help="convert a SPICE deck into a kavrel netlist")
    parser.add_argument("deck", metavar="DECK", help="the SPICE deck")
    parser.add_argument("--port1", nargs=2, metavar=("NODE+", "NODE-"),
                        help="port 1 (default: the AC source's nodes)")
    parser.add_argument("--port2", nargs=2, metavar=("NODE+", "NODE-"), help="port 2")
    parser.add_argument("--param", action="append", metavar="NAME",
                        help="a parameter to compute (repeatable; default all)")
    parser.add_argument("--symbolic", action="store_true",
                        help="keep every element as a symbol (no v entries)")
    parser.set_defaults(func=_run_spice, handler=_run_spice)
