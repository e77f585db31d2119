"""Many marks on one patent: 2,000 and 10,000 cth marks, all within the same 300 characters of
the sample patent or one after the other over a large generated patent, placed and drawn as
quorl-mark does (job.place_marks: conversion, drawing, writing the PDF), next to PyMuPDF's own
cost of drawing the same highlights (add_highlight_annot, set_info, update; at most 64 on a
page, so that MuPDF's work for the annotations already on a page stays small) and writing them.

quorl-mark draws highlights through MuPDF's low-level calls (the same annotation objects as
PyMuPDF's methods, checked once per process) and has MuPDF save the file, so it stays below
PyMuPDF's own cost. "placing" is the part of quorl-mark's seconds spent converting the marks to
PDF lines and rectangles (timed again on its own), the rest is drawing and writing.

Targets: 10,000 marks, overlapping or not, in at most 5 s, and at most 1.5 times PyMuPDF's own
cost. The seconds are CPU seconds of this process (the machine is shared; wall seconds and the
load average are printed beside them).

    python bench/bench_many_marks.py [COUNT ...]
"""
import json
import os
import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))

import pymupdf  # noqa: E402

import quorl  # noqa: E402
from patents import generate_patent  # noqa: E402
from quorl_mark import job  # noqa: E402
from quorl_mark.diagnostics import module_diagnostics  # noqa: E402

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
PER_PAGE = 64


def overlapping(count, start=219):
    return [{"start": start + i % 280, "end": start + i % 280 + 20, "type": "cth",
             "title": str(i), "content": "mark %d" % i} for i in range(count)]


def one_after_another(count, text_length, start=400):
    step = max((text_length - start - 10) // count, 1)
    return [{"start": start + i * step, "end": start + i * step + max(step - 1, 1),
             "type": "cth", "title": str(i), "content": "mark %d" % i} for i in range(count)]


def timed(fn):
    cpu, wall = time.process_time(), time.perf_counter()
    result = fn()
    return result, time.process_time() - cpu, time.perf_counter() - wall


def quorl_marking(html, pdf, marks):
    """place_marks' result and seconds, and the CPU seconds of placing a copy of the marks."""
    # The module's diagnostics (a line per mark) go nowhere, as without -v.
    with module_diagnostics(False):
        converter = job.load_converter(html, pdf)
        copies = json.loads(json.dumps(marks))
        text_length = len(converter.htmldoc.text)
        sizes = {}
        placing = timed(lambda: [job._place(converter, m, text_length, sizes) for m in copies])[1]
        return timed(lambda: job.place_marks(converter, marks)) + (placing,)


def library_drawing(pdf, placed):
    """PyMuPDF drawing the highlights the placed marks drew, PER_PAGE to a page of a document of
    blank pages of the same size, and writing it."""
    size = pymupdf.open("pdf", pdf)[0].rect
    rects = [(m["content"], rect[1:]) for m in placed for rect in m["rects"]]
    doc = pymupdf.open()
    for _ in range(0, len(rects), PER_PAGE):
        doc.new_page(width=size.width, height=size.height)

    def draw():
        for first in range(0, len(rects), PER_PAGE):
            page = doc[first // PER_PAGE]
            for content, rect in rects[first:first + PER_PAGE]:
                annot = page.add_highlight_annot(pymupdf.Rect(rect))
                annot.set_info({"subject": "x", "title": "x", "content": content})
                annot.update()
        return doc.write()

    return timed(draw)[1:], len(rects)


def main(counts):
    sample = ((EXAMPLES / "sample.html").read_text(encoding="utf-8"),
              (EXAMPLES / "sample.pdf").read_bytes())
    large = generate_patent(7, paragraphs=400, claims=20)
    large_length = len(quorl.HtmlDocument(
        large.html, parserlist=[{"name": ["img", "div", "h2"]}]).text)
    print("load average %.1f; CPU seconds (wall seconds)" % os.getloadavg()[0])
    print("%-44s %8s %16s %8s %16s %6s" % ("case", "rects", "quorl-mark", "placing",
                                            "PyMuPDF alone", "ratio"))
    for count in counts:
        cases = [("%d overlapping, sample patent" % count, sample, overlapping(count)),
                 ("%d one after another, %d-character patent" % (count, large_length),
                  (large.html, large.pdf), one_after_another(count, large_length))]
        for name, (html, pdf), marks in cases:
            placed = json.loads(json.dumps(marks))
            _, cpu, wall, placing = quorl_marking(html, pdf, placed)
            (lib_cpu, lib_wall), rects = library_drawing(pdf, placed)
            print("%-44s %8d %7.2f (%6.2f) %8.2f %7.2f (%6.2f) %6.2f"
                  % (name, rects, cpu, wall, placing, lib_cpu, lib_wall, cpu / lib_cpu))


if __name__ == "__main__":
    main([int(a) for a in sys.argv[1:]] or [2000, 10000])
