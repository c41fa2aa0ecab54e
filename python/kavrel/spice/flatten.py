"""Flattening a deck: subcircuit instances expanded, parameters evaluated.

The result is a list of primitive elements with hierarchical names (``X1.R1``)
and global node names (``X1.mid`` for a node inside X1; ``0`` for ground).
"""

from __future__ import annotations

from dataclasses import dataclass

from .deck import IGNORED_CARDS, Deck, Line, Subcircuit, split_assignments
from .expr import ExpressionError, NonlinearValueError, Scope, evaluate

GROUND = "0"
MAX_DEPTH = 50


@dataclass(frozen=True)
class Element:
    kind: str                      # R L C G E F H K V I O (O: ideal op amp)
    name: str                      # hierarchical SPICE name, as written
    nodes: tuple[str, ...]         # node keys (lower case, hierarchical)
    value: float | None            # R L C G E F H: value; K: coupling; V/I: None
    refs: tuple[str, ...]          # F/H: controlling V source; K: the two inductors (keys)
    line: Line
    ac: bool = False               # V/I: has an AC value

    @property
    def key(self) -> str:
        return self.name.lower()


@dataclass
class Flat:
    elements: list[Element]
    node_display: dict[str, str]   # node key -> name as first written (hierarchical)


UNSUPPORTED = {
    "d": "a diode has no small-signal model here: replace it by its small-signal equivalent (R, C)",
    "q": "a bipolar transistor has no small-signal model here: replace it by its small-signal "
         "equivalent (R, C, G sources)",
    "m": "a MOS transistor has no small-signal model here: replace it by its small-signal "
         "equivalent (R, C, G sources)",
    "j": "a JFET has no small-signal model here: replace it by its small-signal equivalent",
    "z": "a MESFET has no small-signal model here: replace it by its small-signal equivalent",
    "b": "behavioural (B) sources are not linear elements kavrel can represent",
    "t": "transmission lines cannot be represented by kavrel's lumped elements",
    "o": "transmission lines cannot be represented by kavrel's lumped elements",
    "u": "transmission lines cannot be represented by kavrel's lumped elements",
    "y": "transmission lines cannot be represented by kavrel's lumped elements",
    "p": "coupled transmission lines cannot be represented by kavrel's lumped elements",
    "s": "switches are not linear elements",
    "w": "switches are not linear elements",
    "a": "code-model (A) devices cannot be represented",
    "n": "device-model (N) elements cannot be represented",
}

_NONLINEAR_WORDS = {"poly", "value", "table", "laplace", "freq", "vol", "cur", "ch"}
_VALUE_KEYS = {"r": ("r", "resistance"), "l": ("l", "inductance"), "c": ("c", "capacitance")}


class _Flattener:
    def __init__(self, deck: Deck) -> None:
        self.deck = deck
        self.elements: list[Element] = []
        self.node_display: dict[str, str] = {GROUND: GROUND}

    # nodes -----------------------------------------------------------------
    def node(self, name: str, prefix: str, pins: dict[str, str]) -> str:
        lowered = name.lower()
        if lowered in ("0", "gnd"):
            return GROUND
        if lowered in pins:
            return pins[lowered]
        if lowered in self.deck.global_nodes or not prefix:
            key, shown = lowered, name
        else:
            key, shown = f"{prefix.lower()}.{lowered}", f"{prefix}.{name}"
        self.node_display.setdefault(key, shown)
        return key

    # lines -----------------------------------------------------------------
    def expand(self, body: list[Line], prefix: str, pins: dict[str, str], scope: Scope,
               marks: dict[str, Line], depth: int) -> None:
        for line in body:
            if line.tokens[0].startswith("."):
                self.card(line, scope)
        for line in body:
            head = line.tokens[0]
            if head.startswith("."):
                continue
            try:
                self.element(line, prefix, pins, scope, marks, depth)
            except NonlinearValueError as error:
                raise line.error(f"nonlinear or time-dependent value: {error}") from None
            except ExpressionError as error:
                raise line.error(str(error)) from None

    def card(self, line: Line, scope: Scope) -> None:
        head = line.tokens[0].lower()
        if head == ".param":
            _, pairs = split_assignments(line.tokens[1:], line)
            if not pairs or len(pairs) * 3 != len(line.tokens) - 1:
                raise line.error(".param needs name=value assignments")
            for name, expression in pairs:
                scope.define(name, expression)
        elif head in IGNORED_CARDS or head == ".model":
            return
        elif head in (".include", ".inc", ".lib"):
            raise line.error(f"{head} is not read: put the included lines into the deck")
        elif head == ".func":
            raise line.error(".func user functions are not supported; use .param values")
        elif head == ".temp":
            raise line.error(".temp is not supported: element values are taken as written")
        else:
            raise line.error(f"unknown dot card {line.tokens[0]}")

    def element(self, line: Line, prefix: str, pins: dict[str, str], scope: Scope,
                marks: dict[str, Line], depth: int) -> None:
        tokens = line.tokens
        name = tokens[0]
        letter = name[0].lower()
        full = f"{prefix}.{name}" if prefix else name
        if letter in UNSUPPORTED:
            raise line.error(UNSUPPORTED[letter])
        for token in tokens[1:]:
            if token.lower() in _NONLINEAR_WORDS:
                raise line.error(f"nonlinear or frequency-dependent value ({token}) cannot be "
                                 "represented")
        if letter in "rlc":
            self.passive(line, letter, full, prefix, pins, scope)
        elif letter in "ge":
            positional, pairs = split_assignments(tokens[1:], line)
            if pairs and not (len(pairs) == 1 and pairs[0][0].lower() == "m" and letter == "g"):
                raise line.error(f"unsupported parameter {pairs[0][0]}= on a controlled source")
            if len(positional) != 5:
                raise line.error(f"{name} needs four nodes and a gain")
            gain = evaluate(positional[4], scope)
            if pairs:
                gain *= evaluate(pairs[0][1], scope)
            nodes = tuple(self.node(n, prefix, pins) for n in positional[:4])
            kind = "O" if letter == "e" and name.lower() in marks else letter.upper()
            self.elements.append(Element(kind, full, nodes, None if kind == "O" else gain, (), line))
        elif letter in "fh":
            positional, pairs = split_assignments(tokens[1:], line)
            if pairs or len(positional) != 4:
                raise line.error(f"{name} needs two nodes, a controlling voltage source and a gain")
            control = positional[2]
            if not control.lower().startswith("v"):
                raise line.error(f"the controlling element {control} must be a voltage source")
            ref = f"{prefix}.{control}".lower() if prefix else control.lower()
            nodes = tuple(self.node(n, prefix, pins) for n in positional[:2])
            self.elements.append(Element(letter.upper(), full, nodes, evaluate(positional[3], scope),
                                         (ref,), line))
        elif letter == "k":
            positional, pairs = split_assignments(tokens[1:], line)
            if pairs or len(positional) != 3:
                raise line.error(f"{name} needs two inductors and a coupling coefficient")
            refs = tuple((f"{prefix}.{n}" if prefix else n).lower() for n in positional[:2])
            for ref, written in zip(refs, positional[:2]):
                if not written.lower().startswith("l"):
                    raise line.error(f"{written} is not an inductor")
            self.elements.append(Element("K", full, (), evaluate(positional[2], scope), refs, line))
        elif letter in "vi":
            self.source(line, letter, full, prefix, pins)
        elif letter == "x":
            self.instance(line, full, prefix, pins, scope, depth)
        else:
            raise line.error(f"unknown element letter {name[0]!r}")

    def passive(self, line: Line, letter: str, full: str, prefix: str, pins: dict[str, str],
                scope: Scope) -> None:
        positional, pairs = split_assignments(line.tokens[1:], line)
        if len(positional) < 2:
            raise line.error(f"{line.tokens[0]} needs two nodes and a value")
        value_text: str | None = None
        if len(positional) == 3:
            value_text = positional[2]
        elif len(positional) > 3:
            raise line.error(f"a model ({positional[3]}) or extra items on {line.tokens[0]} "
                             "cannot be represented")
        multiplier = 1.0
        for key, text in pairs:
            lowered = key.lower()
            if lowered in _VALUE_KEYS[letter] and value_text is None:
                value_text = text
            elif lowered == "m":
                multiplier = evaluate(text, scope)
            elif lowered == "ic" and letter in "lc":
                continue                    # an initial condition does not touch AC analysis
            else:
                raise line.error(f"unsupported parameter {key}= on {line.tokens[0]}")
        if value_text is None:
            raise line.error(f"{line.tokens[0]} has no value")
        if not _looks_like_value(value_text, scope):
            raise line.error(f"{value_text} is a model name or an unknown word: a model-based "
                             "element cannot be represented")
        value = evaluate(value_text, scope)
        if multiplier == 0:
            raise line.error("m=0 removes the element; delete the line instead")
        value = value / multiplier if letter in "rl" else value * multiplier
        nodes = tuple(self.node(n, prefix, pins) for n in positional[:2])
        self.elements.append(Element(letter.upper(), full, nodes, value, (), line))

    def source(self, line: Line, letter: str, full: str, prefix: str, pins: dict[str, str]) -> None:
        if len(line.tokens) < 3:
            raise line.error(f"{line.tokens[0]} needs two nodes")
        nodes = tuple(self.node(n, prefix, pins) for n in line.tokens[1:3])
        ac = any(token.lower() == "ac" for token in line.tokens[3:])
        self.elements.append(Element(letter.upper(), full, nodes, None, (), line, ac))

    def instance(self, line: Line, full: str, prefix: str, pins: dict[str, str], scope: Scope,
                 depth: int) -> None:
        tokens = [token for token in line.tokens[1:] if token.lower() != "params:"]
        positional, pairs = split_assignments(tokens, line)
        if not positional:
            raise line.error("the instance names no subcircuit")
        subckt_name, nodes = positional[-1], positional[:-1]
        key = subckt_name.lower()
        opamp = self.deck.opamp_subckts.get(key)
        subckt = self.deck.subcircuits.get(key)
        if subckt is None:
            raise line.error(f"no subcircuit named {subckt_name} in the deck")
        if len(nodes) != len(subckt.pins):
            raise line.error(f"subcircuit {subckt.name} has {len(subckt.pins)} pins, "
                             f"the instance gives {len(nodes)} nodes")
        if depth >= MAX_DEPTH:
            raise line.error(f"subcircuits nested deeper than {MAX_DEPTH} (a subcircuit that "
                             "contains itself?)")
        inner_pins = {pin.lower(): self.node(node, prefix, pins) for pin, node in zip(subckt.pins, nodes)}
        if opamp is not None:
            if pairs:
                raise line.error("an ideal op amp takes no parameters")
            terminals = tuple(GROUND if pin in ("0", "gnd") else inner_pins[pin]
                              for pin in (opamp.output_pos, opamp.output_neg,
                                          opamp.input_pos, opamp.input_neg))
            self.elements.append(Element("O", full, terminals, None, (), line))
            return
        inner = _instance_scope(subckt, pairs, scope, self.top_scope, line)
        self.expand(subckt.body, full, inner_pins, inner, subckt.opamp_marks, depth + 1)

    top_scope: Scope


def _instance_scope(subckt: Subcircuit, pairs: list[tuple[str, str]], caller: Scope,
                    top: Scope, line: Line) -> Scope:
    inner = Scope(parent=top)
    for name, expression in subckt.defaults:
        inner.define(name, expression)
    known = {name.lower() for name, _ in subckt.defaults}
    for name, expression in pairs:
        if name.lower() not in known:
            raise line.error(f"subcircuit {subckt.name} has no parameter {name}")
        try:
            inner.set_value(name, evaluate(expression, caller))
        except ExpressionError as error:
            raise line.error(str(error)) from None
    return inner


def _looks_like_value(text: str, scope: Scope) -> bool:
    if text[0] in "{'0123456789.+-":
        return True
    probe: Scope | None = scope
    while probe is not None:
        if probe.has(text):
            return True
        probe = probe.parent
    return False


def flatten(deck: Deck) -> Flat:
    flattener = _Flattener(deck)
    flattener.top_scope = Scope()
    flattener.expand(deck.body, "", {}, flattener.top_scope, deck.opamp_marks, 0)
    return Flat(flattener.elements, flattener.node_display)
