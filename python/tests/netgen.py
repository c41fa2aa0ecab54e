"""Random netlists of every element kind, with the matching reference circuit."""

from __future__ import annotations

import random
from dataclasses import dataclass, field

import mna

ONE_PORTS = ["r", "l", "c", "g", "y", "z"]
TWO_PORTS = ["gm", "gy", "u", "b", "rm", "m", "o"]
ALL_PARAMS = ("g11 g12 g21 g22 h11 h12 h21 h22 y11 y12 y21 y22 z11 z12 z21 z22 "
              "A B C D a b c d s11 s12 s21 s22 F11 F12 F21 F22").split()


def stored_value(text: str) -> float:
    """The double kavrel's reader stores for a plain decimal such as 1.37 (digits, x0.1 per decimal)."""
    whole, _, fraction = text.partition(".")
    mantissa = 0.0
    for digit in whole + fraction:
        mantissa = mantissa * 10.0 + int(digit)
    for _ in range(len(fraction)):
        mantissa *= 0.1
    return mantissa


@dataclass
class RandomNetlist:
    text: str
    circuit: mna.Circuit
    values: dict[str, float]  # every symbol that kavrel may print, with the value the oracle uses
    in_netlist: set[str] = field(default_factory=set)  # names whose values the netlist gives (v)
    params: list[str] = field(default_factory=list)
    norm_mode: int = 0

    def reference(self) -> float:
        if self.norm_mode == 0:
            return 1.0 / self.values["Y0"]
        if self.norm_mode == 1:
            return self.values["Z0"]
        return 1.0


def random_netlist(rng: random.Random, with_values: bool, params: list[str] | None = None) -> RandomNetlist:
    node_count = rng.randint(3, 5)
    labels = list(range(node_count))
    counters: dict[str, int] = {}
    lines: list[str] = []
    circuit = mna.Circuit()
    values: dict[str, float] = {}
    given: set[str] = set()

    def value_text() -> str:
        return f"{rng.uniform(0.4, 2.5):.3f}"

    def add(kind: str, nodes: tuple[int, ...]) -> None:
        counters[kind] = counters.get(kind, 0) + 1
        name = f"{kind}{counters[kind]}"
        negated = rng.random() < 0.15
        text = value_text()
        value = stored_value(text)
        if kind in ("gm", "u", "b", "rm") and rng.random() < 0.5:
            text, value = "-" + text, -value
        entry = ("x " if negated else "") + name + " " + " ".join(map(str, nodes))
        if with_values and kind != "o" and rng.random() < 0.6:
            entry += f" v {text}"
            given.add(name)
        lines.append(entry)
        circuit.elements.append(mna.Element(kind, nodes, value, negated))
        values[name] = value

    order = labels[:]
    rng.shuffle(order)
    for k in range(1, len(order)):
        add(rng.choice(ONE_PORTS), (order[k], order[rng.randrange(k)]))
    opamps = 0
    for _ in range(rng.randint(1, 4)):
        kind = rng.choice(TWO_PORTS + ONE_PORTS)
        if kind == "o":
            if opamps:
                continue
            opamps += 1
        if kind in ONE_PORTS:
            a, b = rng.sample(labels, 2)
            add(kind, (a, b))
        else:
            a, b = rng.sample(labels, 2)
            c, d = rng.sample(labels, 2)
            add(kind, (a, b, c, d))
    p1 = rng.sample(labels, 2)
    rest = [x for x in labels if x != p1[0]]
    p2 = [rng.choice(rest), rng.choice([p1[1]] + labels)]
    if p2[0] == p2[1]:
        p2[1] = p1[1] if p1[1] != p2[0] else p1[0]
    ports = (p1[0], p1[1], p2[0], p2[1])
    circuit.ports = ports
    norm_mode = rng.choice([0, 1, 2])
    chosen = params if params is not None else rng.sample(ALL_PARAMS, 5)
    values["Y0"] = stored_value(value_text())
    values["Z0"] = stored_value(value_text())
    rng.shuffle(lines)
    body = "\n".join(lines)
    text = (f"{{random}}\n{body}\nf {' '.join(map(str, ports))}\n" +
            "".join(f"p {p}\n" for p in chosen) + f"n {norm_mode}\nend\n")
    return RandomNetlist(text, circuit, values, given, list(chosen), norm_mode)
