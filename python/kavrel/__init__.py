"""kavrel from Python: run the kavrel executable and work with its results.

Library use::

    import kavrel
    [result] = kavrel.analyse("r1 1 2 v 1k; c1 2 0 v 1u; f 1 0 2 0; p g21; e")
    g21 = result.functions["g21"]
    g21.expr()                       # SymPy: r1, c1 and s as symbols
    g21.evaluate(f=159.15)           # complex value at the netlist's values
    g21.response([10, 100, 1e3], {"c1": "2.2u"})

Names (``__all__``):

* ``analyse(text, *, executable=None, values=None, names=None) -> list[NetlistResult]``
  and ``analyse_file(path, **same)``; ``KavrelRunError`` when kavrel stops reading
  (``.message`` is kavrel's message, ``.results`` the netlists analysed before).
* ``NetlistResult``: ``functions`` (dict by printed name: ``g21``, ``A``, ``s11``,
  ``F22``), ``function(name)`` (any accepted alias), ``values``, ``warnings``,
  ``messages``, ``missing``.
* ``Function``: ``numerator``/``denominator`` (``TermPolynomial`` arrays),
  ``numerator_poly()``/``denominator_poly()``/``expr()`` (SymPy, up to
  ``SYMPY_TERM_LIMIT`` terms), ``simplified()``, ``undefined``, ``held``,
  ``normalization``, ``evaluate(values=None, s=None, f=None) -> complex``,
  ``response(freqs_hz, values=None) -> ndarray``, ``coefficients(values)``,
  ``substituted(values)``.
* ``poles_zeros``, ``dc_gain``, ``bandwidth_3db``, ``approximate``: numbers at given values.
* ``export(function, format)`` for ``sympy latex maxima octave json``.
* ``bode_plot``, ``pole_zero_plot``: matplotlib figures.
* ``NameMap``: names shown for kavrel's node labels and element names.
* ``parse_value``: SI-suffixed numbers; ``KavrelError`` is the base of every error.
"""

from .errors import KavrelError, ValueSyntaxError
from .names import NameMap
from .results import (SYMPY_TERM_LIMIT, Function, FunctionNotComputed, KavrelRunError,
                      NetlistResult, TooLargeError)
from .run import analyse, analyse_file
from .terms import TermPolynomial
from .units import parse_value

__all__ = ["KavrelError", "ValueSyntaxError", "NameMap", "Function", "NetlistResult",
           "KavrelRunError", "FunctionNotComputed", "TooLargeError", "SYMPY_TERM_LIMIT",
           "TermPolynomial", "analyse", "analyse_file", "parse_value"]
