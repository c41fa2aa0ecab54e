"""kavrel from Python: run the kavrel executable and work with its results."""

from .errors import KavrelError, ValueSyntaxError
from .units import parse_value

__all__ = ["KavrelError", "ValueSyntaxError", "parse_value"]
