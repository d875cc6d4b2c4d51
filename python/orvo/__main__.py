"""Command line: python -m orvo doctor"""

from __future__ import annotations

import argparse


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(prog="orvo", description="orvo restoration chain for VapourSynth")
    sub = ap.add_subparsers(dest="command", required=True)
    sub.add_parser("doctor", help="report which plugins the chain needs are available, and from where")
    args = ap.parse_args(argv)
    if args.command == "doctor":
        from .doctor import report

        return 1 if report() else 0
    return 2


if __name__ == "__main__":
    raise SystemExit(main())
