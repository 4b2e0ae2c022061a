"""`python -m tarnvel_match`: the `tarnvel` command."""

import sys

from .cli import main

sys.exit(main())
