"""Scans as office scanners leave them, read by quorl's OCR and by ocrmypdf side by side.

Each text PDF (generated patents, and the real publications of tests/real_pdfs, whose own text
is the truth, and a stand-in full-text HTML is made of it for the marks) is scanned as an office scanner leaves it (tests/scans.py's office_scan: 300 dpi
grey JPEG at quality 70 on shaded paper with specks, a small skew) or in black and white
(CCITT G4, ``--bilevel``). Both tools then read the same scan on the machine's 2 cores:
``ocr_document(jobs=2)`` and ``ocrmypdf -l chi_sim -j 2``. Printed: character similarity of
each page's text against the text PDF's (1 - edit distance / length, whitespace and figure
placeholders left out), by page kind, and the seconds each took (wall and CPU of the children).
Both texts are taken with PyMuPDF's plain extraction, since ocrmypdf's output has no vector rule
on its first page and the document model refuses it; for quorl the text the document model
reads is printed as well, with the share of marks whose rectangles overlap the text PDF's with
an IoU of at least 0.7.

    .venv/bin/python bench/bench_scans.py [--patents 2] [--real 2] [--bilevel]
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "tests")]

import pymupdf  # noqa: E402

import quorl  # noqa: E402
from bench_ocr import mark_rects  # noqa: E402
from ocr_measure import mark_ious, model_page_texts, similarity  # noqa: E402
from patent_files import spread_marks  # noqa: E402
from patents import generate_patent  # noqa: E402
from quorl_mark.ocr.document import ocr_document  # noqa: E402
from real_patents import NAMES, pdf_path, standin_html  # noqa: E402
from scans import office_scan  # noqa: E402

DPI = 300
IMAGE = "#imagefile#"


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed(run):
    wall, cpu = time.perf_counter(), children_cpu()
    out = run()
    return out, time.perf_counter() - wall, children_cpu() - cpu


def ocrmypdf(scan):
    with tempfile.TemporaryDirectory() as folder:
        source, target = os.path.join(folder, "in.pdf"), os.path.join(folder, "out.pdf")
        with open(source, "wb") as f:
            f.write(scan)
        subprocess.run(["ocrmypdf", "-q", "-l", "chi_sim", "-j", "2", "--output-type", "pdf",
                        source, target], check=True)
        with open(target, "rb") as f:
            return f.read()


def plain_texts(pdf):
    return [page.get_text() for page in pymupdf.open("pdf", pdf)]


def kinds_of(text_pdf, count):
    """abstract, claims, descriptions or drawings per page, from its running header."""
    kinds = []
    for number, page in enumerate(pymupdf.open("pdf", text_pdf)):
        header = "".join(page.get_text(clip=pymupdf.Rect(0, 0, page.rect.width, 70)).split())
        kinds.append("abstract" if number == 0 else "drawings" if "附图" in header else
                     "claims" if "权利要求书" in header else "descriptions")
    return kinds[:count]


def measure(name, text_pdf, html, bilevel, seed):
    scan = office_scan(text_pdf, DPI, skew=(0.4 if seed % 2 else -0.6), seed=seed,
                       bilevel=bilevel)
    ours, our_wall, our_cpu = timed(lambda: ocr_document(scan, dpi=DPI, jobs=2))
    start = time.process_time()
    theirs, their_wall, their_cpu = timed(lambda: ocrmypdf(scan))
    truth = [t.replace(IMAGE, "") for t in plain_texts(text_pdf)]
    kinds = kinds_of(text_pdf, len(truth))
    row = dict(name=name, pages=len(truth), kinds=kinds, ours=(our_wall, our_cpu),
               theirs=(their_wall, their_cpu + time.process_time() - start))
    row["plain"] = [(similarity(t, a), similarity(t, b)) for t, a, b in
                    zip(truth, plain_texts(ours.pdf), plain_texts(theirs))]
    model_truth = model_page_texts(quorl.PdfDocument(pymupdf.open("pdf", text_pdf)))
    try:
        model_ours = model_page_texts(quorl.PdfDocument(pymupdf.open("pdf", ours.pdf)))
    except Exception as e:  # noqa: BLE001 - reported, not hidden
        print("%s: the document model refuses quorl's OCR: %s" % (name, e))
        model_ours = [""] * len(model_truth)
    row["model"] = [similarity(t.replace(IMAGE, ""), f.replace(IMAGE, ""))
                    for t, f in zip(model_truth, model_ours)]
    row["ious"] = []
    if html is not None:
        marks = spread_marks(html, 30)
        try:
            for a, b in zip(mark_rects(html, text_pdf, marks), mark_rects(html, ours.pdf, marks)):
                row["ious"].append(min(mark_ious(a[1], b[1]).values()) if b[1] else 0.0)
        except Exception as e:  # noqa: BLE001
            print("%s: marks not measured: %s" % (name, e))
    return row


def report(rows):
    print("\n| scan | pages | quorl s (CPU) | ocrmypdf s (CPU) | quorl chars | ocrmypdf chars | "
          "quorl model's text | marks IoU>=0.7 |")
    print("|---|---|---|---|---|---|---|---|")
    for r in rows:
        ours = sum(a for a, _ in r["plain"]) / r["pages"]
        theirs = sum(b for _, b in r["plain"]) / r["pages"]
        good = "%d/%d" % (sum(i >= 0.7 for i in r["ious"]), len(r["ious"])) if r["ious"] else "-"
        print("| %s | %d | %.0f (%.0f) | %.0f (%.0f) | %.3f | %.3f | %.3f | %s |" % (
            r["name"], r["pages"], r["ours"][0], r["ours"][1], r["theirs"][0], r["theirs"][1],
            ours, theirs, sum(r["model"]) / r["pages"], good))
    by_kind = {}
    for r in rows:
        for kind, (a, b), m in zip(r["kinds"], r["plain"], r["model"]):
            by_kind.setdefault(kind, []).append((a, b, m))
    print("\n| page kind | pages | quorl mean (min) | ocrmypdf mean (min) | quorl model's text |")
    print("|---|---|---|---|---|")
    for kind, values in by_kind.items():
        a, b, m = ([v[i] for v in values] for i in range(3))
        print("| %s | %d | %.3f (%.3f) | %.3f (%.3f) | %.3f |" % (
            kind, len(values), sum(a) / len(a), min(a), sum(b) / len(b), min(b),
            sum(m) / len(m)))
    pages = sum(r["pages"] for r in rows)
    print("\nPer page: quorl %.1f s wall, %.1f s CPU; ocrmypdf %.1f s wall, %.1f s CPU" % (
        sum(r["ours"][0] for r in rows) / pages, sum(r["ours"][1] for r in rows) / pages,
        sum(r["theirs"][0] for r in rows) / pages, sum(r["theirs"][1] for r in rows) / pages))
    ious = [i for r in rows for i in r["ious"]]
    if ious:
        print("Marks: %d of %d (%.1f%%) with IoU >= 0.7" % (
            sum(i >= 0.7 for i in ious), len(ious), 100 * sum(i >= 0.7 for i in ious) / len(ious)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--patents", type=int, default=2)
    parser.add_argument("--real", type=int, default=2)
    parser.add_argument("--bilevel", action="store_true")
    args = parser.parse_args()
    if shutil.which("ocrmypdf") is None:
        sys.exit("ocrmypdf is missing: apt-get install -y ocrmypdf")
    rows = []
    for seed in range(1, args.patents + 1):
        patent = generate_patent(seed)
        rows.append(measure("patent %d" % seed, patent.pdf, patent.html, args.bilevel, seed))
        print(rows[-1]["name"], "done", flush=True)
    for i, name in enumerate(NAMES[:args.real]):
        with open(pdf_path(name), "rb") as f:
            rows.append(measure(name, f.read(), standin_html(name), args.bilevel, i))
        print(name, "done", flush=True)
    report(rows)


if __name__ == "__main__":
    main()
