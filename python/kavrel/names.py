"""Mapping of kavrel's node labels and element names to the user's own names.

A netlist converted from another description (a SPICE deck, say) uses kavrel's
numbered nodes and short element names; a :class:`NameMap` carries the names the
user knows, so that reports can show them.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any


@dataclass
class NameMap:
    """Names to show for kavrel's node labels and element symbols.

    ``node(label)`` and ``element(symbol)`` return the mapped name, or the
    input unchanged (as text) when no mapping is known.
    """

    nodes: dict[int, str] = field(default_factory=dict)
    elements: dict[str, str] = field(default_factory=dict)

    def node(self, label: int | str) -> str:
        """The name to show for node ``label``."""
        try:
            key = int(label)
        except (TypeError, ValueError):
            return str(label)
        return self.nodes.get(key, str(label))

    def element(self, symbol: str) -> str:
        """The name to show for element ``symbol``."""
        return self.elements.get(symbol, symbol)

    @classmethod
    def from_conversion(cls, conversion: Any) -> "NameMap":
        """Build a map from anything with ``node_names`` and ``element_names``."""
        nodes = {int(k): str(v) for k, v in dict(getattr(conversion, "node_names", {}) or {}).items()}
        elements = {str(k): str(v) for k, v in dict(getattr(conversion, "element_names", {}) or {}).items()}
        return cls(nodes=nodes, elements=elements)
