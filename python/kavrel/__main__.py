"""``python3 -m kavrel``: the command line (see :mod:`kavrel.cli`)."""

import sys

from .cli import main

sys.exit(main())
