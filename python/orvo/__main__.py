"""python -m orvo: the `orvo` command."""

from .cli import main

if __name__ == "__main__":
    raise SystemExit(main())
