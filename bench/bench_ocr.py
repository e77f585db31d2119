"""OCR of scanned patents: accuracy of the text layer and of the marks, and speed.

For each generated patent the text PDF is scanned (tests/scans.py: grayscale JPEG at 300 dpi,
light noise, a small skew), given its text layer by ocr_document (timed at jobs=1 with
Tesseract's default threads, at jobs=1 and at jobs=2 with one thread a child), and then marked
like the text PDF. Printed: character similarity per page kind (1 - edit distance / length,
whitespace left out), both of the text and of the text as the document model reads it, where a
figure of the text PDF is a "#imagefile#" line that a scan, one image a page, never has; the
share of marks whose rectangles overlap the text PDF's with an intersection over union of at
least 0.7 on every page, the share with the same pdflines, and seconds per page. ``--tune``
compares Tesseract's page segmentation modes, everything else as ocr_document does it, one page
at a time in this process.

    .venv/bin/python bench/bench_ocr.py [--patents 5] [--tune]
"""
import argparse
import itertools
import json
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "tests")]

import pymupdf  # noqa: E402

import quorl  # noqa: E402
from ocr_measure import mark_ious, model_page_texts, similarity  # noqa: E402
from patent_files import spread_marks  # noqa: E402
from patents import generate_patent  # noqa: E402
from quorl_mark import job  # noqa: E402
from quorl_mark.ocr import document as ocr  # noqa: E402
from quorl_mark.ocr.document import LANGUAGE, ocr_document, tessdata_for  # noqa: E402
from scans import scan_pdf  # noqa: E402

DPI = 300
IMAGE = "#imagefile#"  # how the document model reads a figure of a text PDF
# name -> (jobs, Tesseract's threads a child, None: its default)
TIMINGS = {"jobs=1, default threads": (1, None), "jobs=1": (1, 1), "jobs=2": (2, 1)}
SKEWS = (0.0, 0.3, -0.3, 0.5, -0.5, 0.2)


def page_texts(pdf):
    """The text of each page's lines as the document model reads them (the header band left
    out), so that both PDFs are read in one order."""
    return model_page_texts(quorl.PdfDocument(pymupdf.open("pdf", pdf)))


def mark_rects(html, pdf, marks):
    """Per mark, its pdflines and rects in ``pdf`` (or (None, [], None) when it cannot be
    placed), and its pdflines numbered as if the figures' IMAGE lines were not there."""
    from quorl_mark.diagnostics import module_diagnostics

    out = []
    with module_diagnostics(False):
        converter = job.load_converter(html, pdf)
        figures_before = list(itertools.accumulate(
            (line["text"] == IMAGE for line in converter.pdfdoc.lines), initial=0))
        for mark in marks:
            mark = dict(mark)
            try:
                converter.convert_mark_html2pdf(mark)
            except Exception:
                out.append((None, [], None))
                continue
            lines = mark["pdflines"]
            if not lines:  # placed on no line: as good as not placed, and it has no rects
                out.append((None, [], None))
                continue
            out.append((lines, job._rects(converter.pdfdoc, lines),
                        [(i - figures_before[i], span) for i, span in lines]))
    return out


def recognised(seed, scanned, pages, cache):
    """The OCR'd PDF and its facts (s/page per TIMINGS, the rule's y, the unreadable
    pages), kept in ``cache`` between runs; remove the PDFs there to make the text layers
    again without timing the OCR again."""
    stem = os.path.join(cache, "patent%d" % seed)
    if os.path.exists(stem + ".json"):
        with open(stem + ".json") as g:
            facts = json.load(g)
        if not os.path.exists(stem + ".pdf"):  # timed before: the text layer made again only
            with open(stem + ".pdf", "wb") as f:
                f.write(ocr_document(scanned, jobs=2, dpi=DPI).pdf)
        with open(stem + ".pdf", "rb") as f:
            return f.read(), facts
    timings = {}
    for name, (jobs, threads) in TIMINGS.items():
        ocr.TESSERACT_THREADS = threads
        start = time.perf_counter()
        result = ocr_document(scanned, jobs=jobs, dpi=DPI)
        timings[name] = (time.perf_counter() - start) / pages
    ocr.TESSERACT_THREADS = 1
    facts = dict(timings, rule=result.rule, unreadable=result.unreadable)
    with open(stem + ".pdf", "wb") as f, open(stem + ".json", "w") as g:
        f.write(result.pdf)
        json.dump(facts, g)
    return result.pdf, facts


def measure(patent, ocr_pdf):
    """Characters and marks of an OCR'd patent against its text PDF."""
    truths, founds = page_texts(patent.pdf), page_texts(ocr_pdf)
    similarities = [(kind, similarity(truth, found)) for kind, truth, found in
                    zip(patent.page_kinds, truths, founds)]
    texts = [(kind, similarity(truth.replace(IMAGE, ""), found.replace(IMAGE, "")))
             for kind, truth, found in zip(patent.page_kinds, truths, founds)]
    marks = spread_marks(patent.html, 30)
    text_marks = mark_rects(patent.html, patent.pdf, marks)
    ocr_marks = mark_rects(patent.html, ocr_pdf, marks)
    ious = [min(mark_ious(a[1], b[1]).values()) if b[1] else 0.0
            for a, b in zip(text_marks, ocr_marks)]
    same_lines = sum(a[0] == b[0] for a, b in zip(text_marks, ocr_marks))
    same_text_lines = sum(a[2] == b[2] for a, b in zip(text_marks, ocr_marks))
    return dict(pages=len(patent.page_kinds), similarities=similarities, texts=texts, ious=ious,
                same_lines=same_lines, same_text_lines=same_text_lines, marks=len(marks), unplaced=sum(not b[1] for b in ocr_marks))


def measure_patent(seed, cache):
    patent = generate_patent(seed)
    scanned = scan_pdf(patent.pdf, DPI, skew=SKEWS[seed % len(SKEWS)], seed=seed)
    ocr_pdf, facts = recognised(seed, scanned, len(patent.page_kinds), cache)
    return dict(measure(patent, ocr_pdf), seed=seed,
                seconds={k: facts[k] for k in TIMINGS},
                rule=facts["rule"], separator=patent.separator[1])


def report(rows):
    print("\nPer patent (scans at %d dpi, OCR at %d dpi)" % (DPI, DPI))
    print("| seed | pages | skew | chars (text pages) | marks IoU>=0.7 | same pdflines | "
          "rule y (true) | %s |" % " | ".join("s/page " + t for t in TIMINGS))
    print("|---" * (7 + len(TIMINGS)) + "|")
    for r in rows:
        text = [s for kind, s in r["texts"] if kind != "drawings"]
        good = sum(i >= 0.7 for i in r["ious"])
        print("| %d | %d | %+.1f | %.4f | %d/%d | %d/%d | %s (%.1f) | %s |" % (
            r["seed"], r["pages"], SKEWS[r["seed"] % len(SKEWS)], sum(text) / len(text), good,
            len(r["ious"]), r["same_lines"], r["marks"],
            "%.1f" % r["rule"] if r["rule"] is not None else "none", r["separator"],
            " | ".join("%.1f" % r["seconds"][t] for t in TIMINGS)))
    by_kind = {}
    for r in rows:
        for (kind, s), (_, t) in zip(r["similarities"], r["texts"]):
            by_kind.setdefault(kind, []).append((t, s))
    print("\nCharacter similarity by page kind: of the text, and of the model's lines with %s"
          % IMAGE)
    print("| kind | pages | text mean | text min | model's lines mean | model's lines min |")
    print("|---|---|---|---|---|---|")
    for kind, values in by_kind.items():
        text, lines = [v[0] for v in values], [v[1] for v in values]
        print("| %s | %d | %.4f | %.4f | %.4f | %.4f |" % (
            kind, len(values), sum(text) / len(text), min(text), sum(lines) / len(lines),
            min(lines)))
    ious = [i for r in rows for i in r["ious"]]
    pages = sum(r["pages"] for r in rows)
    print("\nAll: %d marks (%d not placed on the scan), %.1f%% with IoU >= 0.7 on every page "
          "(mean %.3f), %.1f%% same pdflines, %.1f%% once the %s lines are not counted" % (
              len(ious), sum(r["unplaced"] for r in rows),
              100 * sum(i >= 0.7 for i in ious) / len(ious), sum(ious) / len(ious),
              100 * sum(r["same_lines"] for r in rows) / sum(r["marks"] for r in rows),
              100 * sum(r["same_text_lines"] for r in rows) / sum(r["marks"] for r in rows),
              IMAGE))
    for t in TIMINGS:
        print("%.1f s/page at %s" % (sum(r["seconds"][t] * r["pages"] for r in rows) / pages, t))


def tune(patents, segmentations=(3, 4, 6)):
    """Characters and marks per page segmentation mode of Tesseract's page reading."""
    from quorl_mark.ocr import document as ocr, page as ocr_page

    tessdata = tessdata_for(LANGUAGE)
    print("\nPage segmentation modes on %d patents" % patents)
    print("| --psm | chars (text pages) | chars (first page) | marks IoU>=0.7 | s/page |")
    print("|---|---|---|---|---|")
    for psm in segmentations:
        ocr_page.PAGE_SEGMENTATION = psm
        chars, first, ious, seconds, pages = [], [], [], 0.0, 0
        for seed in range(1, patents + 1):
            patent = generate_patent(seed)
            scanned = pymupdf.open("pdf", scan_pdf(patent.pdf, DPI, skew=SKEWS[seed % len(
                SKEWS)], seed=seed))
            start = time.perf_counter()
            found = {n: ocr_page.recognise_page(ocr._page_pdf(scanned, n), LANGUAGE, DPI,
                                                tessdata, n == 0) for n in range(len(scanned))}
            seconds += time.perf_counter() - start
            pages += len(scanned)
            ocr.add_text_layers(scanned, list(found), found)
            row = measure(patent, scanned.tobytes())
            chars += [s for kind, s in row["texts"] if kind not in ("abstract", "drawings")]
            first.append(row["texts"][0][1])
            ious += row["ious"]
        print("| %d | %.4f | %.4f | %.1f%% | %.1f |" % (
            psm, sum(chars) / len(chars), sum(first) / len(first),
            100 * sum(i >= 0.7 for i in ious) / len(ious), seconds / pages))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--patents", type=int, default=5)
    parser.add_argument("--tune", action="store_true")
    parser.add_argument("--cache", default=os.path.join(HERE, "..", "build", "bench-ocr"),
                        help="where the OCR'd PDFs and their timings are kept between runs")
    args = parser.parse_args()
    if args.tune:
        tune(args.patents)
        return
    rows = []
    os.makedirs(args.cache, exist_ok=True)
    for seed in range(1, args.patents + 1):
        rows.append(measure_patent(seed, args.cache))
        r = rows[-1]
        print("patent %d: %d pages, %s s/page, %d marks not placed" % (
            seed, r["pages"], " / ".join("%.1f" % r["seconds"][t] for t in TIMINGS),
            r["unplaced"]), flush=True)
    report(rows)


if __name__ == "__main__":
    main()
