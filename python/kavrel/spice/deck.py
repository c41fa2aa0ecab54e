"""Reading a deck: logical lines, tokens, directives, subcircuit definitions."""

from __future__ import annotations

from dataclasses import dataclass, field

from ..errors import KavrelError


class SpiceError(KavrelError):
    """A deck line that cannot be represented: "<file>:<line>: <text>: <reason>"."""


@dataclass(frozen=True)
class Line:
    """One logical line (continuations joined) with where it came from."""

    filename: str
    number: int
    text: str
    tokens: tuple[str, ...]

    def error(self, reason: str) -> SpiceError:
        return SpiceError(f"{self.filename}:{self.number}: {self.text}: {reason}")


@dataclass
class Subcircuit:
    name: str
    pins: list[str]
    defaults: list[tuple[str, str]]
    body: list[Line]
    line: Line
    opamp_marks: dict[str, Line] = field(default_factory=dict)   # E elements marked as op amps


@dataclass(frozen=True)
class OpampSubckt:
    """A subcircuit marked as an ideal op amp, with its pins in nullor order."""

    name: str
    output_pos: str
    output_neg: str
    input_pos: str
    input_neg: str
    line: Line


@dataclass
class Deck:
    title: str
    body: list[Line]
    subcircuits: dict[str, Subcircuit]
    opamp_marks: dict[str, Line]                # top-level E elements marked as op amps
    opamp_subckts: dict[str, OpampSubckt]
    global_nodes: set[str]


DIRECTIVE = "*kavrel:"

# Dot cards that choose analyses or outputs and do not change the network.
IGNORED_CARDS = frozenset({
    ".ac", ".dc", ".tran", ".op", ".noise", ".tf", ".disto", ".pz", ".sens", ".four",
    ".print", ".plot", ".probe", ".save", ".meas", ".measure", ".options", ".option",
    ".opt", ".width", ".ic", ".nodeset", ".title", ".csparam",
})


def tokenize(text: str) -> list[str]:
    """Split a line into tokens: {...} and '...' stay whole, '=' is a token of its own."""
    tokens: list[str] = []
    current: list[str] = []
    position = 0

    def flush() -> None:
        if current:
            tokens.append("".join(current))
            current.clear()

    while position < len(text):
        char = text[position]
        if char == "{":
            depth, end = 0, position
            while end < len(text):
                depth += {"{": 1, "}": -1}.get(text[end], 0)
                end += 1
                if depth == 0:
                    break
            current.append(text[position:end])
            position = end
            continue
        if char == "'":
            end = text.find("'", position + 1)
            end = len(text) if end < 0 else end + 1
            current.append(text[position:end])
            position = end
            continue
        if char.isspace() or char in ",()":
            flush()
        elif char == "=":
            flush()
            tokens.append("=")
        else:
            current.append(char)
        position += 1
    flush()
    return tokens


def _strip_inline_comment(text: str) -> str:
    depth = 0
    quoted = False
    for index, char in enumerate(text):
        if char == "'" and depth == 0:
            quoted = not quoted
        elif not quoted and char == "{":
            depth += 1
        elif not quoted and char == "}":
            depth -= 1
        elif depth == 0 and not quoted:
            if char == ";" or text.startswith("//", index):
                return text[:index]
            if char == "$" and (index == 0 or text[index - 1].isspace()):
                return text[:index]
    return text


def logical_lines(deck: str, filename: str) -> tuple[str, list[Line]]:
    """The title and the logical lines of a deck (comments removed, '+' lines joined)."""
    physical = deck.splitlines()
    title = physical[0].strip() if physical else ""
    lines: list[tuple[int, str, str]] = []           # number, shown text, content
    for number, raw in enumerate(physical[1:], start=2):
        stripped = raw.strip()
        if not stripped:
            continue
        if stripped.startswith("*"):
            if stripped.lower().startswith(DIRECTIVE):
                lines.append((number, stripped, stripped))
            continue
        content = _strip_inline_comment(stripped).strip()
        if stripped.startswith("+"):
            if not lines or lines[-1][2].startswith("*"):
                raise SpiceError(f"{filename}:{number}: {stripped}: a continuation line with "
                                 "nothing to continue")
            first, shown, previous = lines[-1]
            lines[-1] = (first, f"{shown} {stripped}", f"{previous} {content[1:]}")
            continue
        if content:
            lines.append((number, stripped, content))
    result = [Line(filename, number, shown, tuple(tokenize(content)))
              if not content.startswith("*") else Line(filename, number, shown, tuple(content.split()))
              for number, shown, content in lines]
    return title, result


def split_assignments(tokens: tuple[str, ...] | list[str], line: Line) -> tuple[list[str], list[tuple[str, str]]]:
    """Positional tokens and the name=value pairs that follow them."""
    positional: list[str] = []
    pairs: list[tuple[str, str]] = []
    index = 0
    while index < len(tokens):
        if index + 1 < len(tokens) and tokens[index + 1] == "=":
            if index + 2 >= len(tokens):
                raise line.error(f"no value after {tokens[index]}=")
            pairs.append((tokens[index], tokens[index + 2]))
            index += 3
            continue
        if tokens[index] == "=":
            raise line.error("'=' without a name before it")
        if pairs:
            raise line.error(f"{tokens[index]!r} after the name=value assignments")
        positional.append(tokens[index])
        index += 1
    return positional, pairs


def read_deck(text: str, filename: str) -> Deck:
    """Split a deck into its top-level lines and its subcircuit definitions."""
    title, lines = logical_lines(text, filename)
    deck = Deck(title, [], {}, {}, {}, set())
    stack: list[Subcircuit] = []
    opamp_subckt_lines: list[Line] = []
    in_control = False
    for line in lines:
        head = line.tokens[0].lower() if line.tokens else ""
        if in_control:
            if head == ".endc":
                in_control = False
            continue
        if head.startswith(DIRECTIVE) or head == "*kavrel":
            _directive(line, stack, deck, opamp_subckt_lines)
            continue
        if head == ".control":
            in_control = True
            continue
        if head == ".end":
            break
        if head == ".subckt":
            stack.append(_subckt_header(line))
            continue
        if head == ".ends":
            if not stack:
                raise line.error(".ends without .subckt")
            finished = stack.pop()
            if len(line.tokens) > 1 and line.tokens[1].lower() != finished.name.lower():
                raise line.error(f".ends closes {finished.name}, not {line.tokens[1]}")
            key = finished.name.lower()
            if key in deck.subcircuits:
                raise line.error(f"subcircuit {finished.name} is defined twice")
            deck.subcircuits[key] = finished
            continue
        if head == ".global":
            deck.global_nodes.update(token.lower() for token in line.tokens[1:])
            continue
        (stack[-1].body if stack else deck.body).append(line)
    if stack:
        raise stack[-1].line.error("subcircuit without .ends")
    for line in opamp_subckt_lines:
        _opamp_subckt(line, deck)
    _check_marks(deck.opamp_marks, deck.body)
    for subckt in deck.subcircuits.values():
        _check_marks(subckt.opamp_marks, subckt.body)
    return deck


def _check_marks(marks: dict[str, Line], body: list[Line]) -> None:
    names = {line.tokens[0].lower() for line in body}
    for name, line in marks.items():
        if name not in names:
            raise line.error(f"no E element {name} here to mark as an ideal op amp")


def _subckt_header(line: Line) -> Subcircuit:
    tokens = [token for token in line.tokens[1:] if token.lower() != "params:"]
    positional, pairs = split_assignments(tokens, line)
    if not positional:
        raise line.error(".subckt needs a name")
    return Subcircuit(positional[0], positional[1:], pairs, [], line)


def _directive(line: Line, stack: list[Subcircuit], deck: Deck, later: list[Line]) -> None:
    words = line.text[len(DIRECTIVE):].split() if line.text.lower().startswith(DIRECTIVE) \
        else line.text.split()[1:]
    if not words:
        raise line.error("empty kavrel directive")
    verb = words[0].lower()
    if verb == "opamp":
        if len(words) < 2:
            raise line.error("'opamp' needs the names of the E elements it marks")
        marks = stack[-1].opamp_marks if stack else deck.opamp_marks
        for name in words[1:]:
            if not name.lower().startswith("e"):
                raise line.error(f"{name} is not an E element: only a VCVS can be marked as an "
                                 "ideal op amp (use opamp-subckt for a subcircuit)")
            marks[name.lower()] = line
    elif verb == "opamp-subckt":
        if len(words) != 6:
            raise line.error("write 'opamp-subckt NAME OUT+ OUT- IN+ IN-' with the subcircuit's "
                             "pin names (0 for ground)")
        later.append(line)
    else:
        raise line.error(f"unknown kavrel directive {words[0]!r} (known: opamp, opamp-subckt)")


def _opamp_subckt(line: Line, deck: Deck) -> None:
    words = line.text[len(DIRECTIVE):].split()
    name = words[1]
    subckt = deck.subcircuits.get(name.lower())
    if subckt is None:
        raise line.error(f"no subcircuit {name} in the deck")
    pins = {pin.lower() for pin in subckt.pins}
    for pin in words[2:]:
        if pin.lower() not in pins and pin.lower() not in ("0", "gnd"):
            raise line.error(f"{pin} is not a pin of subcircuit {subckt.name} "
                             f"(pins: {' '.join(subckt.pins)})")
    deck.opamp_subckts[name.lower()] = OpampSubckt(name, *(w.lower() for w in words[2:]), line=line)
