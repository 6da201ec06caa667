"""The reading of a number typed on a command line or found in a CSV field."""

import math


def finite_number(text, what=""):
    """float(text), or ValueError naming `what` and the text when it is not a finite number."""
    name = f"{what} {text!r}" if what else repr(text)
    try:
        value = float(text)
    except ValueError:
        raise ValueError(f"{name} is not a number") from None
    if not math.isfinite(value):
        raise ValueError(f"{name} is not a finite number")
    return value
