"""SPICE decks read into kavrel netlists.

``convert(deck_text, port2=("out", "0"))`` returns a :class:`Conversion`: the
kavrel netlist text, the maps from kavrel's node labels and element names back
to the deck's names, and the exact element values.  Lines that kavrel cannot
represent raise :class:`SpiceError` ("<file>:<line>: <text>: <reason>").
"""

from __future__ import annotations

from dataclasses import dataclass, field

from .build import PARAM_NAMES, Entry, Network, build_network, check_limits, kavrel_names
from .deck import SpiceError, read_deck
from .flatten import GROUND, flatten
from .values import value_text


@dataclass(frozen=True)
class Conversion:
    netlist: str                  # complete kavrel netlist text
    node_names: dict[int, str] = field(default_factory=dict)     # kavrel label -> SPICE node
    element_names: dict[str, str] = field(default_factory=dict)  # kavrel name -> SPICE name
    values: dict[str, float] = field(default_factory=dict)       # kavrel name -> exact value
    title: str = ""


def convert(deck: str, *, filename: str = "<deck>", port1: tuple[str, str] | None = None,
            port2: tuple[str, str] | None = None, params: list[str] | None = None,
            symbolic: bool = False) -> Conversion:
    """Convert a SPICE deck (the text of the file) into a kavrel netlist."""
    for name in params or []:
        if name not in PARAM_NAMES:
            raise SpiceError(f"{filename}: {name!r} is not a kavrel parameter name "
                             "(g11..g22 h.. y.. z.., A B C D, a b c d, s11..s22, F11..F22)")
    parsed = read_deck(deck, filename)
    flat = flatten(parsed)
    network = build_network(flat, filename, port1, port2)
    if not network.entries:
        raise SpiceError(f"{filename}: the deck has no element kavrel can analyse")
    kavrel_names(network.entries)
    if not symbolic:
        for entry in network.entries:
            if entry.value == 0:
                raise entry.line.error("a value of zero cannot be given to kavrel (it would read "
                                       "as no value): remove the element or give it a value")

    shown = dict(flat.node_display)
    shown.update(network.generated)
    for root, members in network.merged.items():
        shown[root] = shown.get(root, root)
    labels = _labels(network, shown)
    node_sets = [{*entry.nodes} for entry in network.entries]
    node_sets[-1] |= {*network.port1, *network.port2}
    check_limits(network, node_sets)

    text = _netlist(parsed.title, filename, network, labels, shown, params or [], symbolic)
    node_names = {label: shown.get(key, key) for key, label in labels.items()}
    element_names = {entry.name: entry.spice_name for entry in network.entries}
    values = {} if symbolic else {entry.name: float(entry.value) for entry in network.entries
                                  if entry.value is not None}
    return Conversion(text, node_names, element_names, values, parsed.title)


def read_deck_file(path: str, **options) -> Conversion:
    """Read a SPICE deck from a file and convert it."""
    try:
        with open(path, encoding="utf-8", errors="replace") as handle:
            text = handle.read()
    except OSError as error:
        raise SpiceError(f"{path}: cannot read the deck: {error.strerror}") from error
    return convert(text, filename=path, **options)


def _labels(network: Network, shown: dict[str, str]) -> dict[str, int]:
    """kavrel labels 0..999: ground 0, numeric node names keep their number where free."""
    used: list[str] = []
    for key in [n for entry in network.entries for n in entry.nodes] + \
            [*network.port1, *network.port2]:
        if key not in used:
            used.append(key)
    labels: dict[str, int] = {GROUND: 0} if GROUND in used else {}
    taken = set(labels.values())
    for key in used:
        name = shown.get(key, key)
        if key != GROUND and name.isdigit() and 0 < int(name) < 1000 and int(name) not in taken:
            labels[key] = int(name)
            taken.add(int(name))
    free = 1
    for key in used:
        if key in labels:
            continue
        while free in taken:
            free += 1
        labels[key] = free
        taken.add(free)
    return labels


def _comment(text: str) -> str:
    return text.replace("{", "(").replace("}", ")")


def _netlist(title: str, filename: str, network: Network, labels: dict[str, int],
             shown: dict[str, str], params: list[str], symbolic: bool) -> str:
    lines = [f"{{kavrel netlist from the SPICE deck {_comment(filename)}: {_comment(title)}}}"]
    lines.append("{elements: " + ", ".join(f"{e.name} = {_comment(e.spice_name)}"
                                           for e in network.entries) + "}")
    lines.append("{nodes: " + ", ".join(f"{label} = {_comment(shown.get(key, key))}"
                                        for key, label in sorted(labels.items(), key=lambda kv: kv[1]))
                 + "}")
    for root, members in network.merged.items():
        lines.append("{shorted by voltage sources: " +
                     " = ".join(_comment(shown.get(m, m)) for m in members) + "}")
    if network.removed:
        lines.append("{removed sources: " + ", ".join(map(_comment, network.removed)) + "}")
    if any(entry.kind == "m" for entry in network.entries):
        lines.append("{each m is the mutual inductance k sqrt(L1 L2) of a SPICE K, in series "
                     "with the inductors it couples}")
    for entry in network.entries:
        line = f"{entry.name} " + " ".join(str(labels[n]) for n in entry.nodes)
        if not symbolic and entry.value is not None:
            line += f" v {value_text(entry.value)}"
        lines.append(line)
    ports = (*network.port1, *network.port2)
    lines.append("f " + " ".join(str(labels[n]) for n in ports))
    for name in params:
        lines.append(f"p {name}")
    lines.append("end")
    return "\n".join(lines) + "\n"


__all__ = ["Conversion", "SpiceError", "convert", "read_deck_file"]
