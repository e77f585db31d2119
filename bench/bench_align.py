"""Speed of the alignment: quorl.PositionMapper against CPython's difflib, cdifflib and cydifflib.

Part one aligns pseudo-Chinese texts (CJK ideographs with Zipf-like frequencies) with a copy
carrying 1% random edits, at 2k to 60k characters. Part two aligns the shapes on which difflib's
own algorithm does the most work, at sizes where difflib still finishes in a second or so. Part
three aligns texts that share little (a mismatched pair of a batch), the worst case of quorl's own
search, and times the converter's realignment check that follows on such pairs.
Every competitor's opcodes are checked against difflib's before its time counts.

Each time is the best of several runs (one run where a single one takes seconds); difflib and
cdifflib need minutes for the largest texts. cdifflib and cydifflib are optional: a column is
left out when its package is not installed.

    python bench/bench_align.py [--sizes 2000,10000] [--skip-adversarial] [--little-sizes 20000]
"""
import argparse
import difflib
import importlib
import logging
import pathlib
import random
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))

import quorl  # noqa: E402
from pseudo_chinese import edited, zipf_text  # noqa: E402

SIZES = [2000, 10000, 20000, 40000, 60000]
EDIT_RATE = 0.01


def difflib_opcodes(a, b):
    return difflib.SequenceMatcher(None, a, b, None).get_opcodes()


def quorl_opcodes(a, b):
    return quorl.PositionMapper(a, b).difflist


def competitors():
    """(name, opcode function) for each matcher installed, difflib first, quorl last."""
    found = [("difflib", difflib_opcodes)]
    for name, attr in (("cdifflib", "CSequenceMatcher"), ("cydifflib", "SequenceMatcher")):
        try:
            matcher = getattr(importlib.import_module(name), attr)
        except ImportError:
            print(f"({name} is not installed: its column is left out)")
            continue
        found.append((name, lambda a, b, m=matcher: m(None, a, b, None).get_opcodes()))
    found.append(("quorl", quorl_opcodes))
    return found


def best_time(fn, a, b, budget=1.0, max_runs=50):
    """Best of several runs of fn(a, b), as many as fit in about `budget` seconds."""
    best, spent, runs, result = float("inf"), 0.0, 0, None
    while runs < max_runs and (runs == 0 or spent + best < budget):
        start = time.perf_counter()
        result = fn(a, b)
        elapsed = time.perf_counter() - start
        best, spent, runs = min(best, elapsed), spent + elapsed, runs + 1
    return best, result


def fmt_time(seconds):
    if seconds >= 1:
        return f"{seconds:8.2f} s "
    if seconds >= 1e-3:
        return f"{seconds * 1e3:8.2f} ms"
    return f"{seconds * 1e6:8.1f} us"


def time_all(matchers, a, b):
    """Times of every matcher on (a, b). quorl must give difflib's opcodes: the run stops if it
    does not; another competitor that differs is only reported."""
    times, expected = {}, None
    for name, fn in matchers:
        seconds, ops = best_time(fn, a, b)
        if expected is None:
            expected = ops
        elif ops != expected:
            message = f"{name} gives other opcodes than difflib on texts of {len(a)} and {len(b)}"
            if name == "quorl":
                sys.exit(message)
            print(f"({message})")
        times[name] = seconds
    return times


def pseudo_chinese_table(matchers, sizes):
    names = [name for name, _ in matchers]
    others = [n for n in names if n != "quorl"]
    print(f"\npseudo-Chinese texts, {EDIT_RATE:.0%} edits")
    header = f"{'chars':>7} " + "".join(f"{n:>12}" for n in names)
    header += "".join(f"{'vs ' + n:>14}" for n in others)
    print(header)
    rows = {}
    for size in sizes:
        rng = random.Random(size)
        a = zipf_text(rng, size)
        b = edited(rng, a, EDIT_RATE, zipf_text(rng, 1000))
        times = time_all(matchers, a, b)
        rows[size] = times
        line = f"{size:>7} " + "".join(f"{fmt_time(times[n]):>12}" for n in names)
        line += "".join(f"{times[n] / times['quorl']:>13.0f}x" for n in others)
        print(line, flush=True)
    return rows


def adversarial_inputs(rng):
    """(description, a, b): the shapes that cost difflib the most."""
    text = zipf_text(rng, 800)
    distinct = "".join(chr(0x4E00 + k) for k in range(2000))
    half = len(distinct) // 2
    periodic = "abcab" * 600
    return [
        ("random binary texts, 3000", "".join(rng.choice("01") for _ in range(3000)),
         "".join(rng.choice("01") for _ in range(3000))),
        ("'ab' * 1500 vs 'ba' * 1500", "ab" * 1500, "ba" * 1500),
        ("'a' * 3000, one changed", "a" * 3000, "a" * 1000 + "b" + "a" * 1999),
        ("'abcab' periods, 1% edits", edited(rng, periodic, 0.01, "abcd"),
         edited(rng, periodic, 0.01, "abcd")),
        ("800 chars vs with blanks", text, "".join(c + " " for c in text)),
        ("2000 distinct vs interleaved", distinct,
         "".join(p + q for p, q in zip(distinct[:half], distinct[half:]))),
    ]


def adversarial_table(matchers):
    names = [name for name, _ in matchers]
    print("\nadversarial inputs")
    print(f"{'input':<30}" + "".join(f"{n:>12}" for n in names) + f"{'vs difflib':>14}")
    ratios = []
    for description, a, b in adversarial_inputs(random.Random(2024)):
        times = time_all(matchers, a, b)
        ratio = times["difflib"] / times["quorl"]
        ratios.append((description, ratio))
        print(f"{description:<30}" + "".join(f"{fmt_time(times[n]):>12}" for n in names)
              + f"{ratio:>13.0f}x", flush=True)
    return ratios


def flat_text(rng, n, distinct=3000):
    """n CJK ideographs drawn uniformly from `distinct`."""
    return "".join(chr(0x4E00 + rng.randrange(distinct)) for _ in range(n))


def sharing_little_inputs(rng, size):
    """(description, a, b): a mismatched pair of a batch, and pairs sharing a tenth or a half."""
    a, b = zipf_text(rng, size), zipf_text(rng, size)
    tenth, half = size // 10, size // 2
    return [
        ("unrelated, Zipf", a, b),
        ("unrelated, flat", flat_text(rng, size), flat_text(rng, size)),
        ("a tenth shared, Zipf", a, b[:half] + a[size // 3:size // 3 + tenth] + b[half + tenth:]),
        ("half shared, Zipf", a, b[:size // 4] + a[size // 3:size // 3 + half] + b[size // 4 + half:]),
    ]


def sharing_little_table(sizes):
    """quorl alone (difflib takes minutes on these): the alignment, and the converter's check for
    a captured section that follows it on pairs this far apart."""
    print("\ntexts that share little (quorl; opcodes checked against difflib at 20k and below)")
    print(f"{'input':<24}{'chars':>7}{'alignment':>12}{'check':>12}")
    rows = {}
    for size in sizes:
        for description, a, b in sharing_little_inputs(random.Random(size + 1), size):
            align, ops = best_time(quorl_opcodes, a, b)
            if size <= 20000 and ops != difflib_opcodes(a, b):
                sys.exit(f"quorl gives other opcodes than difflib: {description}, {size}")
            spandiff = quorl.PositionMapper(a, b).spandiff
            check, _ = best_time(lambda x, y: quorl._realigned_opcodes(x, y, spandiff), a, b)
            rows[(description, size)] = align
            print(f"{description:<24}{size:>7}{fmt_time(align):>12}{fmt_time(check):>12}",
                  flush=True)
    return rows


def report_targets(rows, ratios, little=None):
    print("\ntargets")

    def check(label, ok):
        print(f"  {'met ' if ok else 'MISSED'}  {label}")

    for (description, size), seconds in sorted((little or {}).items()):
        if size == 60000 and description.startswith("unrelated"):
            check(f"{description}, 60k chars in at most 20 ms ({fmt_time(seconds).strip()})",
                  seconds <= 20e-3)

    if 40000 in rows:
        r = rows[40000]
        check(f"40k chars at least 10,000x faster than difflib ({r['difflib'] / r['quorl']:.0f}x)",
              r["difflib"] / r["quorl"] >= 10000)
    if 60000 in rows:
        check(f"60k chars in a few milliseconds ({fmt_time(rows[60000]['quorl']).strip()})",
              rows[60000]["quorl"] < 5e-3)
    for name in ("cdifflib", "cydifflib"):
        for size, times in sorted(rows.items()):
            if name not in times:
                continue
            factor = times[name] / times["quorl"]
            need = 100 if size >= 20000 else 1
            check(f"{size} chars: faster than {name} by {factor:.0f}x (at least {need}x)",
                  factor > need if need == 1 else factor >= need)
    for description, ratio in ratios:
        check(f"{description}: {ratio:.0f}x faster than difflib (at least 30x)", ratio >= 30)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default=",".join(map(str, SIZES)),
                        help="comma-separated text sizes of the first table")
    parser.add_argument("--skip-adversarial", action="store_true")
    parser.add_argument("--little-sizes", default="20000,60000",
                        help="comma-separated text sizes of the table of texts sharing little")
    args = parser.parse_args()
    # The mapper logs one warning per alignment; keep it off the screen but do its work.
    logging.getLogger().addHandler(logging.NullHandler())
    matchers = competitors()
    print(f"CPython {sys.version.split()[0]}; times are the best of repeated runs")
    rows = pseudo_chinese_table(matchers, [int(s) for s in args.sizes.split(",") if s])
    ratios = [] if args.skip_adversarial else adversarial_table(matchers)
    little = sharing_little_table([int(s) for s in args.little_sizes.split(",") if s])
    report_targets(rows, ratios, little)


if __name__ == "__main__":
    main()
