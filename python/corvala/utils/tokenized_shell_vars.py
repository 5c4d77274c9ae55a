"""Expansion of shell-style variables in source-file names."""

from __future__ import annotations

import os
import re

_VARIABLE = re.compile(r"\$(?:\{(?P<braced>[A-Za-z_][A-Za-z0-9_]*)\}|(?P<plain>[A-Za-z_][A-Za-z0-9_]*))")


def tokenized_expand(name: str) -> tuple[str, dict[str, str]]:
    """Expand ``$VAR`` and ``${VAR}`` in *name* from the process environment.

    Returns a tuple whose element 0 is the expanded text and whose element 1 maps each
    expanded variable to its value. Unknown variables are left as written.
    """
    used: dict[str, str] = {}

    def substitute(match: re.Match[str]) -> str:
        variable = match.group("braced") or match.group("plain")
        value = os.environ.get(variable)
        if value is None:
            return match.group(0)
        used[variable] = value
        return value

    return _VARIABLE.sub(substitute, name), used
