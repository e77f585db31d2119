"""Shared pieces of the atheris harnesses.

Every harness feeds fuzzed input to the module and lets any ordinary Python exception pass: a
clear error is an acceptable answer to bad input. What counts as a finding is a crash (the
process dies), a hang (libFuzzer's -timeout), SystemError (an error escaping the C++ code
without a proper Python exception) or a wrong result against an oracle (AssertionError raised by
the harness itself, kept apart from the module's own assertions).
"""

import contextlib
import io
import logging
import os
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"
sys.path.insert(0, str(ROOT / "tests"))

logging.disable(logging.CRITICAL)


class Finding(Exception):
    """A wrong result the harness itself detected."""


def check(condition, *detail):
    if not condition:
        raise Finding(*detail)


def tolerant(fn, *args, **kwargs):
    """fn's result, or None when it raised an ordinary exception; SystemError passes through."""
    try:
        with contextlib.redirect_stdout(io.StringIO()):
            return fn(*args, **kwargs)
    except (SystemError, Finding):
        raise
    except Exception:
        return None


def consume_int(fdp):
    """Mostly small ints, sometimes ones beyond 64 bits, negative as often as not."""
    kind = fdp.ConsumeIntInRange(0, 9)
    if kind == 0:
        return fdp.ConsumeInt(12)
    if kind == 1:
        return -fdp.ConsumeIntInRange(0, 50)
    return fdp.ConsumeIntInRange(0, 60)


def consume_text(fdp, max_len, alphabet="一种装置方法的ab \n\u00a0\U0001f600"):
    """Text from a small alphabet (so alignments find matches), with the odd arbitrary code
    point, lone surrogates included."""
    out = []
    for _ in range(fdp.ConsumeIntInRange(0, max_len)):
        if fdp.ConsumeIntInRange(0, 15) == 0:
            out.append(chr(fdp.ConsumeIntInRange(0, 0x10FFFF)))
        else:
            out.append(alphabet[fdp.ConsumeIntInRange(0, len(alphabet) - 1)])
    return "".join(out)


# The start of an input that carries real text (fuzz/seeds.py writes them): UTF-8 fields
# separated by NUL. The fuzzer mutates such inputs like any other; while the mark survives, the
# harness reads the fields as the text it would otherwise make up, so its mutations stay close to
# real patents.
SEED_MARK = b"\x00real\x00"


def seed_fields(data, count):
    """The first ``count`` fields of an input that starts with SEED_MARK (missing ones empty),
    or None for any other input."""
    if not data.startswith(SEED_MARK):
        return None
    fields = data[len(SEED_MARK):].decode("utf-8", "replace").split("\x00")
    return (fields + [""] * count)[:count]


def main(test_one_input, instrument=True):
    import atheris

    # The module's C++ carries coverage counters when `make fuzz` built it; instrumenting the
    # Python it drives (bs4, the oracles, the harness) adds those branches. PyMuPDF's wrappers
    # take minutes to instrument, so the PDF harnesses steer by the C++ alone.
    # FUZZ_PYTHON_COVERAGE=0 steers by the C++ alone: many times the runs a second, for long
    # passes (instrumenting takes minutes, and every instrumented Python line slows each run).
    if instrument and os.environ.get("FUZZ_PYTHON_COVERAGE", "1") != "0":
        atheris.instrument_all()
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()
