"""The error the command line reports as a plain message with exit status 2."""

from __future__ import annotations


class UserError(Exception):
    """Something the user gave (a file, a value, a name) cannot be used; the message says what."""
