"""SPICE decks read into kavrel netlists."""

from __future__ import annotations

from dataclasses import dataclass, field

from ..errors import KavrelError


class SpiceError(KavrelError):
    """A deck line that cannot be represented: "<file>:<line>: <text>: <reason>"."""


@dataclass(frozen=True)
class Conversion:
    netlist: str
    node_names: dict[int, str] = field(default_factory=dict)
    element_names: dict[str, str] = field(default_factory=dict)
    values: dict[str, float] = field(default_factory=dict)
    title: str = ""


def convert(deck: str, *, filename: str = "<deck>", port1: tuple[str, str] | None = None,
            port2: tuple[str, str] | None = None, params: list[str] | None = None,
            symbolic: bool = False) -> Conversion:
    """Convert a SPICE deck (the text of the file) into a kavrel netlist."""
    raise SpiceError(f"{filename}:1: {deck.splitlines()[0] if deck else ''}: "
                     "the SPICE reader is not built yet")


def read_deck_file(path: str, **options) -> Conversion:
    """Read a SPICE deck from a file and convert it."""
    with open(path, encoding="utf-8", errors="replace") as handle:
        text = handle.read()
    return convert(text, filename=path, **options)


__all__ = ["Conversion", "SpiceError", "convert", "read_deck_file"]
