"""Exceptions raised by the kavrel package."""

from __future__ import annotations


class KavrelError(Exception):
    """Base of every error the package raises on bad input or a failed run."""


class ValueSyntaxError(KavrelError, ValueError):
    """A numeric value (with an optional SI suffix) could not be read."""
