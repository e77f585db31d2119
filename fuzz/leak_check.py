"""Resident memory while building many PositionMappers and converters in one process.

Builds N_MAPPERS mappers on the sections of the sample patent in turn (with their relation
list and diff view), then N_CONVERTERS converters on the whole sample (each one also marking
the sample's marks), once with MuPDF's resource cache emptied after each and once with it kept,
and prints the resident set size after every tenth of each run. Memory that keeps climbing
after the first rounds is a leak.

    python fuzz/leak_check.py [N_MAPPERS [N_CONVERTERS]]
"""

import contextlib
import gc
import io
import itertools
import json
import logging
import pathlib
import sys

import pymupdf
import quorl

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"


def rss_mb():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def run(label, count, build):
    gc.collect()
    figures = [rss_mb()]
    for k in range(1, count + 1):
        build()
        if k % max(count // 10, 1) == 0:
            gc.collect()
            figures.append(rss_mb())
    print(f"{label}: {count} built; RSS MB before, then after each tenth: "
          + " ".join(f"{v:.1f}" for v in figures))
    growth = figures[-1] - figures[2]
    print(f"{label}: growth after the second tenth: {growth:+.1f} MB")
    return growth


def main():
    n_mappers = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000
    n_converters = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    logging.disable(logging.CRITICAL)
    html = (EXAMPLES / "sample.html").read_text(encoding="utf-8")
    pdf = (EXAMPLES / "sample.pdf").read_bytes()
    marks = json.loads((EXAMPLES / "sample-marks.json").read_text(encoding="utf-8"))
    with contextlib.redirect_stdout(io.StringIO()):
        conv = quorl.get_patent_converter(html, pdf)
    sections = [(conv.htmldoc.get_text(h), conv.pdfdoc.get_text([p]))
                for h, p in [("cn-bibliographic-info", "abstract"), ("claims", "claims"),
                             ("description", "descriptions"), ("drawings", "drawings")]]
    del conv
    print(f"start: RSS {rss_mb():.1f} MB")

    cycle = itertools.cycle(sections)

    def mapper():
        a, b = next(cycle)
        m = quorl.PositionMapper(a, b)
        quorl.get_relation_list(m)
        m.getdiffviewtext()

    def converter(empty_store):
        with contextlib.redirect_stdout(io.StringIO()):
            c = quorl.get_patent_converter(html, pdf)
            quorl.pdf_marker(c, [dict(m) for m in marks])
        del c
        if empty_store:
            pymupdf.TOOLS.store_shrink(100)

    grew = [run("PositionMapper", n_mappers, mapper),
            run("converter + pdf_marker, MuPDF store emptied after each", n_converters,
                lambda: converter(True))]
    # MuPDF caches resources of every document it opened in its store, up to its own limit;
    # plain PyMuPDF (open, annotate, write) grows the same way, so this run is not judged.
    run("converter + pdf_marker, MuPDF store kept", n_converters, lambda: converter(False))
    sys.exit(1 if any(g > 20 for g in grew) else 0)


if __name__ == "__main__":
    main()
