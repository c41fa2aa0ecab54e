"""An independent reference: complex modified nodal analysis of kavrel's element kinds.

Every element is modelled by what it does at its terminals, never by the
sub-networks of unit elements and op amps that kavrel builds; two-port
parameters come from their defining experiments at the ports.
"""

from __future__ import annotations

from dataclasses import dataclass, field

import numpy as np

#: experiments with a worse-conditioned matrix count as singular
MAX_CONDITION = 1e7


@dataclass
class Element:
    kind: str  # r l c g y z gm gy o u b rm m
    nodes: tuple[int, ...]  # one-ports (a, b); two-ports (+out, -out, +in, -in)
    value: complex = 1.0
    negated: bool = False


@dataclass
class Circuit:
    elements: list[Element] = field(default_factory=list)
    ports: tuple[int, int, int, int] = (1, 0, 2, 0)


class _System:
    def __init__(self, nodes: list[int]) -> None:
        self.index = {n: k for k, n in enumerate(sorted(set(nodes) - {0}))}
        self.size = len(self.index)
        self.rows: list[dict[int, complex]] = [dict() for _ in range(self.size)]
        self.rhs: list[complex] = [0j] * self.size

    def unknown(self) -> int:
        self.rows.append({})
        self.rhs.append(0j)
        self.size += 1
        return self.size - 1

    def v(self, node: int) -> int | None:
        return self.index.get(node) if node != 0 else None

    def add(self, row: int | None, col: int | None, value: complex) -> None:
        if row is not None and col is not None:
            self.rows[row][col] = self.rows[row].get(col, 0) + value

    def admittance(self, a: int, b: int, y: complex) -> None:
        for p, sp in ((a, 1), (b, -1)):
            for q, sq in ((a, 1), (b, -1)):
                self.add(self.v(p), self.v(q), sp * sq * y)

    def current_leaving(self, node: int, unknown: int, gain: complex) -> None:
        """KCL at ``node``: gain * unknown leaves it."""
        self.add(self.v(node), unknown, gain)

    def vccs(self, a: int, b: int, c: int, d: int, g: complex) -> None:
        """g * v(c, d) leaves node a through the source and enters node b."""
        for p, sp in ((a, 1), (b, -1)):
            for q, sq in ((c, 1), (d, -1)):
                self.add(self.v(p), self.v(q), sp * sq * g)

    def branch(self, a: int, b: int) -> int:
        """A branch current unknown flowing from a through the element to b."""
        k = self.unknown()
        self.current_leaving(a, k, 1)
        self.current_leaving(b, k, -1)
        return k

    def constrain(self, row: int, terms: list[tuple[int, complex]], value: complex = 0) -> None:
        for node, coefficient in terms:
            self.add(row, self.v(node), coefficient)
        self.rhs[row] += value

    def solve(self) -> np.ndarray | None:
        matrix = np.zeros((self.size, self.size), dtype=complex)
        for r, row in enumerate(self.rows):
            for c, value in row.items():
                matrix[r, c] += value
        if self.size == 0:
            return np.zeros(0, dtype=complex)
        if np.linalg.cond(matrix) > MAX_CONDITION:
            return None
        return np.linalg.solve(matrix, np.array(self.rhs, dtype=complex))


def _stamp(system: _System, element: Element, s: complex) -> None:
    kind, n = element.kind, element.nodes
    if kind in ("r", "l", "c", "g", "y", "z"):
        x = element.value
        y = {"r": 1 / x if kind == "r" else 0, "l": 1 / (s * x) if kind == "l" else 0,
             "c": s * x, "g": x, "y": x, "z": 1 / x if kind == "z" else 0}[kind]
        system.admittance(n[0], n[1], -y if element.negated else y)
        return
    a, b, c, d = n
    if element.negated:
        a, b = b, a
    x = element.value
    if kind == "gm":
        system.vccs(a, b, c, d, x)
    elif kind == "gy":
        system.vccs(a, b, c, d, x)
        system.vccs(d, c, a, b, x)
    elif kind == "o":
        k = system.branch(a, b)  # norator current, free
        system.constrain(k, [(c, 1), (d, -1)])  # nullator: v(c, d) = 0
    elif kind == "u":
        k = system.branch(a, b)
        system.constrain(k, [(a, 1), (b, -1), (c, -x), (d, x)])
    elif kind == "b":
        sensed = system.branch(c, d)  # short from c to d
        system.constrain(sensed, [(c, 1), (d, -1)])
        system.current_leaving(a, sensed, x)
        system.current_leaving(b, sensed, -x)
    elif kind == "rm":
        sensed = system.branch(c, d)
        system.constrain(sensed, [(c, 1), (d, -1)])
        k = system.branch(a, b)
        system.constrain(k, [(a, 1), (b, -1)])
        system.add(k, sensed, -x)
    elif kind == "m":
        coupling = 1 / (s * x)
        system.vccs(a, b, c, d, coupling)
        system.vccs(c, d, a, b, coupling)
    else:
        raise ValueError(kind)


def _port_experiment(circuit: Circuit, s: complex, drive: tuple[int, str], hold: tuple[int, str] | None,
                     terminations: dict[int, complex] | None = None):
    """Solve with port ``drive`` = (port, 'v' | 'i') driven by 1 and the held port shorted ('v') or open ('i').

    Returns (v1, i1, v2, i2) with i entering the + terminal, or None when singular.
    """
    p = circuit.ports
    nodes = [0] + [x for e in circuit.elements for x in e.nodes] + list(p)
    system = _System(nodes)
    for element in circuit.elements:
        _stamp(system, element, s)
    currents: dict[int, object] = {}
    port_nodes = {1: (p[0], p[1]), 2: (p[2], p[3])}
    for port, quantity, value in ([(drive[0], drive[1], 1.0)] + ([(hold[0], hold[1], 0.0)] if hold else [])):
        plus, minus = port_nodes[port]
        if quantity == "v":
            k = system.branch(minus, plus)  # a source pushing current into plus
            system.constrain(k, [(plus, 1), (minus, -1)], value)
            currents[port] = ("unknown", k)
        else:
            if system.v(plus) is not None:
                system.rhs[system.v(plus)] += value
            if system.v(minus) is not None:
                system.rhs[system.v(minus)] -= value
            currents[port] = ("fixed", value)
    for port, conductance in (terminations or {}).items():
        plus, minus = port_nodes[port]
        system.admittance(plus, minus, conductance)
    x = system.solve()
    if x is None:
        return None

    def volt(node: int) -> complex:
        k = system.v(node)
        return 0j if k is None else complex(x[k])

    result = []
    for port in (1, 2):
        plus, minus = port_nodes[port]
        result.append(volt(plus) - volt(minus))
        kind, current = currents.get(port, ("fixed", 0.0))
        result.append(complex(x[current]) if kind == "unknown" else complex(current))
    return tuple(result)


# (numerator, denominator, held) of the ordinary parameters, as in kavrel's table
DEFINITIONS = {
    "g11": ("i1", "v1", "i2"), "g12": ("i1", "i2", "v1"), "g21": ("v2", "v1", "i2"), "g22": ("v2", "i2", "v1"),
    "h11": ("v1", "i1", "v2"), "h12": ("v1", "v2", "i1"), "h21": ("i2", "i1", "v2"), "h22": ("i2", "v2", "i1"),
    "y11": ("i1", "v1", "v2"), "y12": ("i1", "v2", "v1"), "y21": ("i2", "v1", "v2"), "y22": ("i2", "v2", "v1"),
    "z11": ("v1", "i1", "i2"), "z12": ("v1", "i2", "i1"), "z21": ("v2", "i1", "i2"), "z22": ("v2", "i2", "i1"),
    "A": ("v1", "v2", "i2"), "B": ("v1", "-i2", "v2"), "C": ("i1", "v2", "i2"), "D": ("i1", "-i2", "v2"),
    "a": ("v2", "v1", "i1"), "b": ("v2", "-i1", "v1"), "c": ("i2", "v1", "i1"), "d": ("i2", "-i1", "v1"),
}


def _quantity(values: tuple, name: str) -> complex:
    sign = -1 if name.startswith("-") else 1
    name = name.lstrip("-")
    port = int(name[1])
    return sign * values[(port - 1) * 2 + (0 if name[0] == "v" else 1)]


def parameter(circuit: Circuit, name: str, s: complex, reference: complex = 1.0) -> complex | None:
    """The two-port parameter ``name`` at s; None when the experiment is singular.

    ``reference`` is the reference resistance of the s and F parameters.
    """
    if name in DEFINITIONS:
        numerator, denominator, held = DEFINITIONS[name]
        held_port = int(held[-1])
        drive_port = 3 - held_port
        driven = denominator if denominator.lstrip("-")[-1] == str(drive_port) else numerator
        quantity = driven.lstrip("-")[0]
        values = _port_experiment(circuit, s, (drive_port, quantity), (held_port, held[0]))
        if values is None:
            return None
        den = _quantity(values, denominator)
        if abs(den) < 1e-12:
            return None
        return _quantity(values, numerator) / den
    matrix = scattering(circuit, s, reference)
    if matrix is None:
        return None
    (s11, s12), (s21, s22) = matrix
    if name.startswith("s"):
        return matrix[int(name[1]) - 1][int(name[2]) - 1]
    if abs(s21) < 1e-12:
        return None
    return {"F11": -(s11 * s22 - s12 * s21) / s21, "F12": s11 / s21, "F21": -s22 / s21, "F22": 1 / s21}[name]


def scattering(circuit: Circuit, s: complex, reference: complex):
    """S with both ports terminated in ``reference``: b = S a, a_k = (v_k + R i_k)/(2 sqrt R)."""
    columns = []
    for port in (1, 2):
        # 1 A into the port with R across it (a Norton source), the other port terminated
        # in R: the network current is 1 - v/R, so a = sqrt(R)/2 and S = (v - R i)/R
        values = _port_experiment(circuit, s, (port, "i"), None, {1: 1 / reference, 2: 1 / reference})
        if values is None:
            return None
        v1, _, v2, _ = values
        i1 = (1.0 if port == 1 else 0.0) - v1 / reference
        i2 = (1.0 if port == 2 else 0.0) - v2 / reference
        columns.append(((v1 - reference * i1) / reference, (v2 - reference * i2) / reference))
    return ((columns[0][0], columns[1][0]), (columns[0][1], columns[1][1]))
