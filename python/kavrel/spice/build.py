"""From flat SPICE elements to a kavrel netlist.

kavrel's element kinds, as used here (currents inside an element flow from its
first node to its second, like SPICE's):

* ``gm A B C D``: a current gm v(C,D) from A through the source to B (SPICE G);
* ``u A B C D``: v(A,B) = u v(C,D) (SPICE E);
* ``b A B C D``: a current b i from A through the source to B, where i flows
  through the short C-D from C to D (SPICE F with its controlling source C-D);
* ``rm A B C D``: v(A,B) = rm i, i through the short C-D from C to D (SPICE H);
* ``m A B C D``: v(A,B) = sM i(C,D) and v(C,D) = sM i(A,B), currents entering A
  and C: a mutual inductance alone, in series with separate inductors;
* ``o A B C D``: a nullor, norator A-B, nullator C-D.
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass, field

from .deck import Line, SpiceError
from .flatten import GROUND, Element, Flat

NAME_LENGTH = 12
PASSIVE_LIMIT = 60          # reading stops when a count reaches these
ACTIVE_LIMIT = 30
NODE_LIMIT = 35
NAME_LIMIT = 90

# names, generated nodes, passive edges, active edges per kavrel entry
COST = {"r": (1, 0, 1, 0), "l": (1, 0, 1, 0), "c": (1, 0, 1, 0), "gm": (1, 0, 0, 1),
        "o": (1, 0, 0, 1), "u": (3, 1, 1, 2), "b": (3, 1, 1, 2), "rm": (5, 2, 2, 3),
        "m": (10, 6, 4, 6)}

PARAM_NAMES = (
    "g11 g12 g21 g22 h11 h12 h21 h22 y11 y12 y21 y22 z11 z12 z21 z22 A B C D a b c d "
    "s11 s12 s21 s22 f11 f12 f21 f22 G11 G12 G21 G22 H11 H12 H21 H22 Y11 Y12 Y21 Y22 "
    "Z11 Z12 Z21 Z22 A21 B21 C21 D21 a12 b12 c12 d12 S11 S12 S21 S22 F11 F12 F21 F22").split()


@dataclass
class Entry:
    kind: str                       # kavrel kind: r l c gm u b rm m o
    spice_name: str                 # what it shows (hierarchical SPICE name)
    nodes: tuple[str, ...]          # node keys (after merging) or generated keys
    value: float | None
    line: Line
    name: str = ""


@dataclass
class Network:
    entries: list[Entry] = field(default_factory=list)
    generated: dict[str, str] = field(default_factory=dict)       # generated node key -> shown name
    merged: dict[str, list[str]] = field(default_factory=dict)    # representative -> members
    removed: list[str] = field(default_factory=list)              # notes on removed sources
    port1: tuple[str, str] = ("", "")
    port2: tuple[str, str] = ("", "")


class _UnionFind:
    def __init__(self) -> None:
        self.parent: dict[str, str] = {}

    def find(self, key: str) -> str:
        root = key
        while self.parent.get(root, root) != root:
            root = self.parent[root]
        while self.parent.get(key, key) != root:
            self.parent[key], key = root, self.parent[key]
        return root

    def union(self, a: str, b: str, keep: set[str]) -> None:
        ra, rb = self.find(a), self.find(b)
        if ra == rb:
            return
        if rb == GROUND or (rb in keep and ra != GROUND):
            ra, rb = rb, ra
        self.parent[rb] = ra


def _port_error(filename: str, reason: str) -> SpiceError:
    return SpiceError(f"{filename}: {reason}")


def _resolve_port(names: tuple[str, str], flat: Flat, which: int, filename: str) -> tuple[str, str]:
    keys = []
    lookup = {key: key for key in flat.node_display}
    lookup.update({"gnd": GROUND})
    for name in names:
        key = lookup.get(name.lower())
        if key is None:
            raise _port_error(filename, f"port {which} node {name!r} is not a node of the deck")
        keys.append(key)
    if keys[0] == keys[1]:
        raise _port_error(filename, f"port {which} has the same node {names[0]!r} at both terminals")
    return keys[0], keys[1]


def build_network(flat: Flat, filename: str, port1: tuple[str, str] | None,
                  port2: tuple[str, str] | None) -> Network:
    elements = flat.elements
    by_key: dict[str, Element] = {}
    for element in elements:
        if element.key in by_key:
            raise element.line.error(f"a second element named {element.name} (the first is on "
                                     f"line {by_key[element.key].line.number})")
        by_key[element.key] = element

    network = Network()
    if port1 is None:
        ac_sources = [e for e in elements if e.kind in "VI" and e.ac]
        if len(ac_sources) != 1:
            found = "no AC source" if not ac_sources else \
                "AC sources " + ", ".join(e.name for e in ac_sources)
            raise _port_error(filename, f"port 1 is not given and the deck has {found}: "
                                        "give --port1 NODE+ NODE-")
        source = ac_sources[0]
        # A current source drives its second node: that is the port's + terminal.
        nodes = source.nodes if source.kind == "V" else source.nodes[::-1]
        network.port1 = (nodes[0], nodes[1])
        if nodes[0] == nodes[1]:
            raise source.line.error("the AC source has the same node at both terminals")
    else:
        network.port1 = _resolve_port(port1, flat, 1, filename)
    if port2 is None:
        raise _port_error(filename, "port 2 must be given: --port2 NODE+ NODE-")
    network.port2 = _resolve_port(port2, flat, 2, filename)

    controls: dict[str, list[Element]] = {}
    for element in elements:
        if element.kind in "FH":
            target = by_key.get(element.refs[0])
            if target is None or target.kind != "V":
                raise element.line.error(f"no voltage source {element.refs[0]} to carry the "
                                         "controlling current")
            controls.setdefault(target.key, []).append(element)
        if element.kind == "K":
            for ref in element.refs:
                target = by_key.get(ref)
                if target is None or target.kind != "L":
                    raise element.line.error(f"no inductor {ref} to couple")
            if element.refs[0] == element.refs[1]:
                raise element.line.error("an inductor cannot be coupled to itself")

    port_pairs = {frozenset(network.port1): 1, frozenset(network.port2): 2}
    union = _UnionFind()
    keep = set(network.port1) | set(network.port2)
    for element in elements:
        if element.kind == "I":
            where = port_pairs.get(frozenset(element.nodes))
            network.removed.append(f"{element.name} (across port {where})" if where
                                   else f"{element.name} (open)")
        elif element.kind == "V" and element.key not in controls:
            where = port_pairs.get(frozenset(element.nodes))
            if where:
                network.removed.append(f"{element.name} (across port {where})")
                continue
            if union.find(element.nodes[0]) == union.find(element.nodes[1]):
                raise element.line.error("voltage sources (or a source with both ends on one node) "
                                         "form a loop")
            union.union(element.nodes[0], element.nodes[1], keep)
    for which, (plus, minus) in ((1, network.port1), (2, network.port2)):
        if union.find(plus) == union.find(minus):
            raise _port_error(filename, f"port {which} is shorted by voltage sources")

    def node(key: str) -> str:
        return union.find(key)

    for key in flat.node_display:
        root = node(key)
        if root != key:
            network.merged.setdefault(root, [root]).append(key)

    counter = [0]

    def fresh(shown: str) -> str:
        counter[0] += 1
        key = f"#{counter[0]}"
        network.generated[key] = shown
        return key

    # Controlling sources become chains of shorts, one per controlled source, in
    # SPICE's current direction (from + through the source to -).
    control_pairs: dict[str, tuple[str, str]] = {}
    port1, port2 = list(map(node, network.port1)), list(map(node, network.port2))
    for key, users in controls.items():
        source = by_key[key]
        start, end = node(source.nodes[0]), node(source.nodes[1])
        where = port_pairs.get(frozenset(source.nodes))
        if where:
            # The port drives the source's terminals; its + terminal (where the
            # source's + node was) moves to the far end of the chain.
            end = fresh(f"{source.name}+")
            port = port1 if where == 1 else port2
            port[port.index(start)] = end
            network.removed.append(f"{source.name} (across port {where}, its current measured)")
        elif start == end:
            raise source.line.error("voltage sources form a loop through this controlling source")
        chain = [start] + [fresh(f"{source.name}#{i + 1}") for i in range(len(users) - 1)] + [end]
        for index, user in enumerate(users):
            control_pairs[user.key] = (chain[index], chain[index + 1])
    network.port1 = (port1[0], port1[1])
    network.port2 = (port2[0], port2[1])

    couplings: dict[str, list[tuple[Element, int]]] = {}
    for element in elements:
        if element.kind == "K":
            for side, ref in enumerate(element.refs):
                couplings.setdefault(ref, []).append((element, side))
    mutual_pairs: dict[str, list[tuple[str, str]]] = {}

    entries = network.entries
    for element in elements:
        kind, nodes = element.kind, tuple(node(n) for n in element.nodes)
        if kind in "RC":
            entries.append(Entry(kind.lower(), element.name, nodes, element.value, element.line))
        elif kind == "L":
            segments = couplings.get(element.key, [])
            if not segments:
                entries.append(Entry("l", element.name, nodes, element.value, element.line))
                continue
            chain = [nodes[0]] + [fresh(f"{element.name}#{i + 1}") for i in range(len(segments))] \
                + [nodes[1]]
            entries.append(Entry("l", element.name, (chain[0], chain[1]), element.value, element.line))
            for index, (coupling, side) in enumerate(segments):
                mutual_pairs.setdefault(coupling.key, [None, None])[side] = (chain[index + 1],
                                                                            chain[index + 2])
        elif kind == "G":
            entries.append(Entry("gm", element.name, nodes, element.value, element.line))
        elif kind == "E":
            entries.append(Entry("u", element.name, nodes, element.value, element.line))
        elif kind == "O":
            entries.append(Entry("o", element.name, nodes, None, element.line))
        elif kind in "FH":
            entries.append(Entry("b" if kind == "F" else "rm", element.name,
                                 nodes + control_pairs[element.key], element.value, element.line))
    for element in elements:
        if element.kind != "K":
            continue
        k = element.value
        if k == 0 or abs(k) > 1:
            raise element.line.error(f"coupling coefficient {k:g}: it must lie in [-1, 0) or (0, 1]")
        first, second = mutual_pairs[element.key]
        inductors = [by_key[ref].value for ref in element.refs]
        if inductors[0] * inductors[1] <= 0:
            raise element.line.error("the coupled inductors must have values of equal sign")
        mutual = abs(k) * math.sqrt(inductors[0] * inductors[1])
        if k < 0:
            second = (second[1], second[0])      # the dot moves to the other end
        entries.append(Entry("m", element.name, first + second, mutual, element.line))
    return network


# names ---------------------------------------------------------------------
def _reads_as(kind: str, name: str) -> bool:
    """Whether kavrel reads the word `name` as an element of `kind`."""
    c0, c1 = name[0].lower(), name[1:2].lower()
    if c0 in "gr" and c1 == "m":
        actual = c0 + "m"
    elif c0 == "g" and c1 == "y":
        actual = "gy"
    else:
        actual = c0
    return actual == kind


def kavrel_names(entries: list[Entry]) -> None:
    """Give every entry a unique kavrel name of its kind that shows its SPICE name."""
    used: set[str] = {"x", "o", "a", "Y0", "Z0"}
    for entry in entries:
        base = re.sub(r"[^A-Za-z0-9_]", "_", entry.spice_name)
        if not _reads_as(entry.kind, base):
            base = f"{entry.kind}_{base}"
        name = base[:NAME_LENGTH]
        number = 1
        while name in used:
            number += 1
            suffix = f"_{number}"
            name = base[:NAME_LENGTH - len(suffix)] + suffix
        used.add(name)
        entry.name = name


# limits --------------------------------------------------------------------
def check_limits(network: Network, labelled_nodes: list[set[str]]) -> None:
    """Refuse networks past kavrel's tables; labelled_nodes[i]: the nodes entry i uses."""
    counts = {"names": 1, "passive edges": 1, "active edges": 0, "nodes": 1}   # reserved ones
    seen: set[str] = set()
    first_past: dict[str, Entry] = {}
    limits = {"names": NAME_LIMIT, "passive edges": PASSIVE_LIMIT, "active edges": ACTIVE_LIMIT,
              "nodes": NODE_LIMIT}
    for entry, nodes in zip(network.entries, labelled_nodes):
        names, generated, passive, active = COST[entry.kind]
        seen |= nodes
        counts["names"] += names
        counts["passive edges"] += passive
        counts["active edges"] += active
        counts["nodes"] += generated
        for what, limit in limits.items():
            count = counts[what] + (len(seen) if what == "nodes" else 0)
            if count >= limit and what not in first_past:
                first_past[what] = entry
    counts["nodes"] += len(seen)
    for what in ("passive edges", "active edges", "nodes", "names"):
        if what in first_past:
            total, allowed = counts[what], limits[what] - 1
            raise first_past[what].line.error(
                f"past kavrel's limit of {what}: the network needs {total} (counting the reserved "
                f"one and the parts generated for controlled sources, op amps and couplings), "
                f"kavrel takes at most {allowed}: {total - allowed} too many")
