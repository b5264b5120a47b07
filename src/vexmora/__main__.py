"""``python -m vexmora``: the command line of :mod:`vexmora.cli`."""
import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
