"""OCR of scanned patents: accuracy of the text layer and of the marks, and speed.

For each generated patent the text PDF is scanned (tests/scans.py: grayscale JPEG at 300 dpi,
light noise, a small skew), given its text layer by ocr_document at jobs=1 and at jobs=2, and
then marked like the text PDF. Printed: character similarity per page kind (1 - edit distance /
length, whitespace left out), the share of marks whose rectangles overlap the text PDF's with an
intersection over union of at least 0.7 on every page, the share with the same pdflines, and
seconds per page. ``--tune`` compares preprocessing (as rendered, binarised) and, through the
tesseract command, page segmentation modes on the text pages of the first patent.

    .venv/bin/python bench/bench_ocr.py [--patents 5] [--tune]
"""
import argparse
import io
import json
import os
import subprocess
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
from quorl_mark.ocr import LANGUAGE, ocr_document, tessdata_for  # noqa: E402
from scans import scan_pdf  # noqa: E402

DPI = 300
SKEWS = (0.0, 0.3, -0.3, 0.5, -0.5, 0.2)


def page_texts(pdf):
    """The text of each page's lines as the document model reads them (the header band left
    out), so that both PDFs are read in one order."""
    return model_page_texts(quorl.PdfDocument(pymupdf.open("pdf", pdf)))


def mark_rects(html, pdf, marks):
    """Per mark, its pdflines and rects in ``pdf``, or (None, []) when it cannot be placed."""
    from quorl_mark.diagnostics import module_diagnostics

    out = []
    with module_diagnostics(False):
        converter = job.load_converter(html, pdf)
        for mark in marks:
            mark = dict(mark)
            try:
                converter.convert_mark_html2pdf(mark)
                out.append((mark["pdflines"], job._rects(converter.pdfdoc, mark["pdflines"])))
            except Exception:
                out.append((None, []))
    return out


def recognised(seed, scanned, pages, cache):
    """The OCR'd PDF and its facts (s/page at jobs "1" and "2", the rule's y, the unreadable
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
    for jobs in (1, 2):
        start = time.perf_counter()
        result = ocr_document(scanned, jobs=jobs, dpi=DPI)
        timings[str(jobs)] = (time.perf_counter() - start) / pages
    facts = dict(timings, rule=result.rule, unreadable=result.unreadable)
    with open(stem + ".pdf", "wb") as f, open(stem + ".json", "w") as g:
        f.write(result.pdf)
        json.dump(facts, g)
    return result.pdf, facts


def measure_patent(seed, cache):
    patent = generate_patent(seed)
    scanned = scan_pdf(patent.pdf, DPI, skew=SKEWS[seed % len(SKEWS)], seed=seed)
    ocr_pdf, facts = recognised(seed, scanned, len(patent.page_kinds), cache)
    similarities = [(kind, similarity(truth, found)) for kind, truth, found in
                    zip(patent.page_kinds, page_texts(patent.pdf), page_texts(ocr_pdf))]
    marks = spread_marks(patent.html, 30)
    text_marks = mark_rects(patent.html, patent.pdf, marks)
    ocr_marks = mark_rects(patent.html, ocr_pdf, marks)
    ious = [min(mark_ious(a[1], b[1]).values()) if b[1] else 0.0
            for a, b in zip(text_marks, ocr_marks)]
    same_lines = sum(a[0] == b[0] for a, b in zip(text_marks, ocr_marks))
    return dict(seed=seed, pages=len(patent.page_kinds), similarities=similarities, ious=ious,
                same_lines=same_lines, marks=len(marks), unplaced=sum(not b[1] for b in ocr_marks),
                seconds={1: facts["1"], 2: facts["2"]}, rule=facts["rule"],
                separator=patent.separator[1])


def report(rows):
    print("\nPer patent (scans at %d dpi, OCR at %d dpi)" % (DPI, DPI))
    print("| seed | pages | skew | chars (text pages) | marks IoU>=0.7 | same pdflines | "
          "rule y (true) | s/page jobs=1 | s/page jobs=2 |")
    print("|---|---|---|---|---|---|---|---|---|")
    for r in rows:
        text = [s for kind, s in r["similarities"] if kind != "drawings"]
        good = sum(i >= 0.7 for i in r["ious"])
        print("| %d | %d | %+.1f | %.4f | %d/%d | %d/%d | %s (%.1f) | %.1f | %.1f |" % (
            r["seed"], r["pages"], SKEWS[r["seed"] % len(SKEWS)], sum(text) / len(text), good,
            len(r["ious"]), r["same_lines"], r["marks"],
            "%.1f" % r["rule"] if r["rule"] is not None else "none", r["separator"],
            r["seconds"][1], r["seconds"][2]))
    by_kind = {}
    for r in rows:
        for kind, s in r["similarities"]:
            by_kind.setdefault(kind, []).append(s)
    print("\nCharacter similarity by page kind")
    print("| kind | pages | mean | min |")
    print("|---|---|---|---|")
    for kind, values in by_kind.items():
        print("| %s | %d | %.4f | %.4f |" % (kind, len(values), sum(values) / len(values),
                                          min(values)))
    ious = [i for r in rows for i in r["ious"]]
    pages = sum(r["pages"] for r in rows)
    print("\nAll: %d marks (%d not placed on the scan), %.1f%% with IoU >= 0.7 on every page (mean %.3f), %.1f%% same "
          "pdflines; %.1f s/page at jobs=1, %.1f s/page at jobs=2" % (
              len(ious), sum(r["unplaced"] for r in rows), 100 * sum(i >= 0.7 for i in ious) / len(ious), sum(ious) / len(ious),
              100 * sum(r["same_lines"] for r in rows) / sum(r["marks"] for r in rows),
              sum(r["seconds"][1] * r["pages"] for r in rows) / pages,
              sum(r["seconds"][2] * r["pages"] for r in rows) / pages))


def tune(seed=1):
    """Character similarity of the claims and description pages of one patent (page text
    against page text) per preprocessing and, through the tesseract command, per page
    segmentation mode."""
    from PIL import Image

    patent = generate_patent(seed)
    scanned = pymupdf.open("pdf", scan_pdf(patent.pdf, DPI, skew=0.3, seed=seed))
    truths = [page.get_text() for page in pymupdf.open("pdf", patent.pdf)]
    tessdata = tessdata_for(LANGUAGE)
    rows = {}
    for number, kind in enumerate(patent.page_kinds):
        if kind in ("drawings", "abstract"):  # one column, so every recogniser's order agrees
            continue
        pix = scanned[number].get_pixmap(dpi=DPI, colorspace=pymupdf.csRGB)
        pix.set_dpi(DPI, DPI)
        gray = Image.frombytes("RGB", (pix.width, pix.height), pix.samples).convert("L")
        variants = {"as rendered": pix}
        binary = gray.point(lambda v: 255 if v > 160 else 0).convert("RGB")
        variants["binarised (160)"] = pymupdf.Pixmap(pymupdf.csRGB, pix.width, pix.height,
                                                     binary.tobytes(), False)
        for name, image in variants.items():
            image.set_dpi(DPI, DPI)
            start = time.perf_counter()
            ocr = pymupdf.open("pdf", image.pdfocr_tobytes(language=LANGUAGE, tessdata=tessdata))
            rows.setdefault("PyMuPDF, " + name, []).append(
                (similarity(truths[number], ocr[0].get_text()), time.perf_counter() - start))
        png = io.BytesIO()
        gray.save(png, "PNG")
        for psm in (3, 4, 6):
            start = time.perf_counter()
            out = subprocess.run(["tesseract", "stdin", "stdout", "-l", LANGUAGE, "--psm",
                                  str(psm), "--dpi", str(DPI)], input=png.getvalue(),
                                 capture_output=True).stdout.decode("utf-8", "replace")
            rows.setdefault("tesseract --psm %d" % psm, []).append(
                (similarity(truths[number], out), time.perf_counter() - start))
    print("\nTuning on the text pages of patent %d (%d pages)" % (seed, len(next(iter(
        rows.values())))))
    print("| recognition | chars | s/page |")
    print("|---|---|---|")
    for name, values in rows.items():
        print("| %s | %.4f | %.1f |" % (name, sum(v[0] for v in values) / len(values),
                                       sum(v[1] for v in values) / len(values)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--patents", type=int, default=5)
    parser.add_argument("--tune", action="store_true")
    parser.add_argument("--cache", default=os.path.join(HERE, "..", "build", "bench-ocr"),
                        help="where the OCR'd PDFs and their timings are kept between runs")
    args = parser.parse_args()
    if args.tune:
        tune()
        return
    rows = []
    os.makedirs(args.cache, exist_ok=True)
    for seed in range(1, args.patents + 1):
        rows.append(measure_patent(seed, args.cache))
        r = rows[-1]
        print("patent %d: %d pages, %.1f / %.1f s/page, %d marks not placed" % (
            seed, r["pages"], r["seconds"][1], r["seconds"][2], r["unplaced"]), flush=True)
    report(rows)


if __name__ == "__main__":
    main()
