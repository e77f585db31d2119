"""A whole marking run on a large generated patent (a 60,000-character description): building
the converter with get_patent_converter and drawing 50 marks with pdf_marker, split into its
stages, next to the library work no implementation can avoid: BeautifulSoup's parse of the HTML,
PyMuPDF's raw-dict extraction of every page and doc.write().

Targets: the alignment takes less time than BeautifulSoup's parse, and the whole run at most 1.2
times the sum of the library work it stands on: the parse, the raw dicts, PyMuPDF's highlights of
the marked lines and the write (1.5 times the parse, raw dicts and write alone, the older figure).

The machine is shared: the figures are the best of alternating rounds, the load average is
printed with them, and instruction counts (valgrind --tool=callgrind) are the way to compare two
builds on a busy machine.
"""
import contextlib
import gc
import io
import logging
import os
import pathlib
import statistics
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))

import pymupdf  # noqa: E402
from bs4 import BeautifulSoup  # noqa: E402

import quorl  # noqa: E402
from patents import generate_patent  # noqa: E402
from quorl_mark.vocabulary import ALIASES, MARK_TYPES, marker_registry  # noqa: E402

ROUNDS = 5
MARKS = 50
KINDS = MARK_TYPES + tuple(ALIASES)


def make_marks(htmldoc):
    """50 marks spread over the claims, the description paragraphs and the figure captions."""
    ids = sorted(i for i in htmldoc.infodict if i[:2] in ("cl", "p0", "fc") and i[2:].isdigit())
    step = max(1, len(ids) // MARKS)
    marks = []
    for n, element_id in enumerate(ids[::step][:MARKS]):
        record = htmldoc.infodict[element_id]
        length = record["end"] - record["start"]
        start = record["start"] + min(3, length // 4)
        end = record["end"] if n % 7 == 0 else min(record["end"], start + 40)
        mark = {"start": start, "end": end, "type": KINDS[n % len(KINDS)], "title": str(n + 1),
                "content": "mark %d" % (n + 1)}
        if n % 5 == 0:
            mark["info"] = "EQUAL"
        marks.append(mark)
    return marks


def stages(patent, marks):
    """Seconds per stage of one run, the stages called the way get_patent_converter and
    pdf_marker call them."""
    times = {}
    clock = time.perf_counter
    t = clock()
    htmldoc = quorl.HtmlDocument(patent.html, parserlist=[{"name": ["img", "div", "h2"]}])
    times["HTML parsing (HtmlDocument)"] = clock() - t
    t = clock()
    pdfdoc = quorl.PdfDocument(quorl.fitz.open("pdf", patent.pdf),
                               markerdict=marker_registry(quorl))
    times["PDF extraction (PdfDocument)"] = clock() - t
    # PdfDocument pauses the cyclic collector while it builds its records; the young-generation
    # pass it defers would otherwise land in whichever stage allocates next.
    t = clock()
    gc.collect(0)
    times["collector pass deferred by the extraction"] = clock() - t
    t = clock()
    converter = quorl.PatentConverter(htmldoc, pdfdoc)
    times["alignment (PatentConverter)"] = clock() - t
    t = clock()
    converted = [converter.convert_mark_html2pdf(dict(m)) for m in marks]
    times["mark conversion (50 marks)"] = clock() - t
    t = clock()
    for mark in converted:
        pdfdoc.make_mark(mark)
    times["drawing (50 marks)"] = clock() - t
    t = clock()
    pdfdoc.doc.write()
    times["writing (doc.write)"] = clock() - t
    return times


def whole_run(patent, marks):
    t = time.perf_counter()
    converter = quorl.get_patent_converter(patent.html, patent.pdf)
    quorl.pdf_marker(converter, [dict(m) for m in marks])
    return time.perf_counter() - t


def library_floor(patent, marks):
    """The library work every run needs: parse, raw dicts of every page, write of a marked
    document; and, for comparison only, PyMuPDF's cost of the highlights the marks draw."""
    times = {}
    t = time.perf_counter()
    BeautifulSoup(patent.html.replace("\n", ""), "lxml").decompose()
    times["BeautifulSoup parse (lxml)"] = time.perf_counter() - t
    doc = pymupdf.open("pdf", patent.pdf)
    t = time.perf_counter()
    for page in doc:
        page.get_text("rawdict")
    times["PyMuPDF rawdict, every page"] = time.perf_counter() - t
    marked = pymupdf.open("pdf", marked_pdf(patent, marks))
    t = time.perf_counter()
    marked.write()
    times["doc.write() of the marked PDF"] = time.perf_counter() - t
    plain = pymupdf.open("pdf", patent.pdf)
    t = time.perf_counter()
    for page_number, rect in highlight_places(patent, marks):
        page = plain[page_number]
        annot = page.add_highlight_annot(rect)
        annot.set_info({"content": "x"})
        annot.update()
    times["(PyMuPDF highlights alone)"] = time.perf_counter() - t
    return times


def highlight_places(patent, marks):
    """(page, rect) of every line the highlighting marks cover."""
    if "places" not in _MARKED:
        converter = quorl.get_patent_converter(patent.html, patent.pdf)
        places = []
        for mark in marks:
            if mark["type"] not in ("par", "cth", "equal"):
                continue
            lines = converter.convert_mark_html2pdf(dict(mark))["pdflines"]
            places += converter.pdfdoc.getcontentposition(
                (lines[0][0], lines[0][1][0]), (lines[-1][0], lines[-1][1][1]))
        _MARKED["places"] = places
    return _MARKED["places"]


_MARKED = {}


def marked_pdf(patent, marks):
    if "pdf" not in _MARKED:
        converter = quorl.get_patent_converter(patent.html, patent.pdf)
        _MARKED["pdf"] = quorl.pdf_marker(converter, [dict(m) for m in marks])
    return _MARKED["pdf"]


def main():
    # The module's progress lines and per-section warnings are not what is measured here.
    logging.getLogger().addHandler(logging.NullHandler())
    logging.getLogger().setLevel(logging.CRITICAL)
    patent = generate_patent(4, claims=10, paragraphs=490, figures=4)
    description = sum(len(t) for t in patent.html_texts["description"])
    with contextlib.redirect_stdout(io.StringIO()):
        htmldoc = quorl.HtmlDocument(patent.html, parserlist=[{"name": ["img", "div", "h2"]}])
        marks = make_marks(htmldoc)
        runs = {"stages": [], "floor": [], "whole": []}
        # Alternating rounds, so that a busy machine slows every measurement alike.
        for _ in range(ROUNDS):
            runs["stages"].append(stages(patent, marks))
            runs["floor"].append(library_floor(patent, marks))
            runs["whole"].append(whole_run(patent, marks))

    def summary(rows, key):
        values = [r[key] for r in rows]
        return min(values), statistics.median(values)

    print("End-to-end marking: %d pages, %d-character description, %d marks; %d runs"
          % (len(patent.page_kinds), description, len(marks), ROUNDS))
    print("%d cores, load average %.1f over the last minute at the end of the runs"
          % (os.cpu_count(), os.getloadavg()[0]))
    print("(best and median milliseconds; the ratios use the best runs, the machine is shared)")
    print()
    row = "%-46s %9s %9s"
    print(row % ("stage", "best", "median"))
    stage_times = {k: summary(runs["stages"], k) for k in runs["stages"][0]}
    for name, (best, med) in stage_times.items():
        print(row % (name, "%.1f" % (best * 1e3), "%.1f" % (med * 1e3)))
    whole = (min(runs["whole"]), statistics.median(runs["whole"]))
    print(row % ("whole run (get_patent_converter + pdf_marker)", "%.1f" % (whole[0] * 1e3),
                 "%.1f" % (whole[1] * 1e3)))
    print()
    floor_times = {k: summary(runs["floor"], k) for k in runs["floor"][0]}
    for name, (best, med) in floor_times.items():
        print(row % (name, "%.1f" % (best * 1e3), "%.1f" % (med * 1e3)))
    floor = sum(v[0] for k, v in floor_times.items() if not k.startswith("("))
    highlights = floor_times["(PyMuPDF highlights alone)"][0]
    print(row % ("sum of the library work", "%.1f" % (floor * 1e3), ""))
    print(row % ("the same with the highlights", "%.1f" % ((floor + highlights) * 1e3), ""))
    print()
    alignment = stage_times["alignment (PatentConverter)"][0]
    parse = floor_times["BeautifulSoup parse (lxml)"][0]
    extraction = stage_times["PDF extraction (PdfDocument)"][0]
    raw = floor_times["PyMuPDF rawdict, every page"][0]
    drawing = stage_times["drawing (50 marks)"][0]
    print("alignment / BeautifulSoup parse:       %.2f  (target < 1)" % (alignment / parse))
    print("extraction / PyMuPDF rawdict:          %.2f" % (extraction / raw))
    print("drawing / PyMuPDF highlights alone:    %.2f" % (drawing / highlights))
    print("whole run / library work:              %.2f  (target <= 1.5)" % (whole[0] / floor))
    print("whole run / library work + highlights: %.2f  (target <= 1.2)"
          % (whole[0] / (floor + highlights)))


if __name__ == "__main__":
    main()
