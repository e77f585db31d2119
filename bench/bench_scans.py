"""Scans as office scanners leave them, read by quorl's OCR and by ocrmypdf side by side.

Each text PDF (generated patents, and the real publications of tests/real_pdfs, whose own text
is the truth, and a stand-in full-text HTML is made of it for the marks) is scanned as an
office scanner leaves it (tests/scans.py's office_scan: 300 dpi grey JPEG at quality 70 on
shaded paper with specks, a small skew) or in black and white (CCITT G4, ``--bilevel``). Both
tools then read the same scan on the machine's 2 cores: ``ocr_document(jobs=2)`` and
``ocrmypdf -l chi_sim -j 2``. Printed: character similarity of each page's text against the
text PDF's (1 - edit distance / length, whitespace and figure placeholders left out, never
below 0), by page kind, and the seconds each took (wall, and CPU of the benchmark's process and
its children). The texts compared are those the document model reads: for both tools and the
text PDF, PyMuPDF's lines inside the regions the document model reads each page of the text PDF
in (page 1's columns, the text area of later pages: no running header, page number or number in
the margin), in rows top to bottom and left to right, so that the order a tool wrote its lines
in does not count; ocrmypdf's output cannot be read by the document model itself, as it has no
vector rule on its first page. For quorl the document model's own text is compared as well,
with the share of marks (those the text PDF places) whose rectangles overlap the text PDF's
with an IoU of at least 0.7. With ``--deskew`` ocrmypdf is timed once more with that option:
quorl levels every crooked sheet (its document model reads level lines), ocrmypdf only when
told to. ``--repeat N`` times each tool N times on each scan, in turns, and keeps its least
time. quorl's text layer is what Tesseract read, as quorl-mark leaves it: the patent's HTML
never enters it.

    .venv/bin/python bench/bench_scans.py [--patents 2] [--real 2] [--bilevel] [--deskew]
        [--repeat N] [--real-folder F]
"""
import argparse
import os
import pathlib
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
from ocr_measure import char_offsets, mark_ious, model_page_texts, similarity  # noqa: E402
from patent_files import spread_marks  # noqa: E402
from patents import generate_patent  # noqa: E402
from quorl_mark.ocr.document import ocr_document  # noqa: E402
import real_patents  # noqa: E402
from scans import office_scan  # noqa: E402

DPI = 300
IMAGE = "#imagefile#"


def cpu_seconds():
    """This process's CPU and its children's: quorl's own part (the text layer written in
    this process) counts as well as ocrmypdf's."""
    return sum(usage.ru_utime + usage.ru_stime for usage in (
        resource.getrusage(resource.RUSAGE_SELF), resource.getrusage(resource.RUSAGE_CHILDREN)))


def timed(runs, repeat=1):
    """name -> (result, wall seconds, CPU seconds) of each of ``runs`` (name -> function), each
    run ``repeat`` times, in turns, and its least wall and least CPU kept."""
    best = {}
    for _ in range(repeat):
        for name, run in runs.items():
            wall, cpu = time.perf_counter(), cpu_seconds()
            out = run()
            wall, cpu = time.perf_counter() - wall, cpu_seconds() - cpu
            if name in best:
                wall, cpu = min(best[name][1], wall), min(best[name][2], cpu)
            best[name] = (out, wall, cpu)
    return best


def ocrmypdf(scan, *options):
    with tempfile.TemporaryDirectory() as folder:
        source, target = os.path.join(folder, "in.pdf"), os.path.join(folder, "out.pdf")
        with open(source, "wb") as f:
            f.write(scan)
        subprocess.run(["ocrmypdf", "-q", *options, "-l", "chi_sim", "-j", "2", "--output-type",
                        "pdf", source, target], check=True)
        with open(target, "rb") as f:
            return f.read()


def reading_regions(pdfdoc):
    """page -> the rectangles the document model reads the page in (page 1's columns, the text
    area of later pages), and page -> its kind."""
    regions, kinds = {}, {}
    for kind, entry in pdfdoc.parsedict.items():
        for page in entry["pages"]:
            regions[page], kinds[page] = [pymupdf.Rect(r) for r in entry["margins"]], kind
    return regions, kinds


def _rows(lines):
    """PyMuPDF's lines (text, bbox) top to bottom, those on one printed row (their middles
    less than half a line apart) left to right: an order that does not depend on how a text
    layer was written."""
    rows = []
    for text, box in sorted(lines, key=lambda line: (line[1][1] + line[1][3]) / 2):
        middle, height = (box[1] + box[3]) / 2, box[3] - box[1]
        if rows and abs(middle - rows[-1][0]) < 0.5 * max(height, rows[-1][1]):
            rows[-1][2].append((box[0], text))
        else:
            rows.append((middle, height, [(box[0], text)]))
    return "\n".join("".join(text for _, text in sorted(row)) for _, _, row in rows)


def region_texts(pdf, regions):
    """Each page's text inside its reading regions (the whole page when it has none), region by
    region, in _rows's order, figure placeholders left out."""
    doc = pymupdf.open("pdf", pdf)
    texts = []
    for page in doc:
        parts = []
        for rect in regions.get(page.number, [page.rect]):
            lines = [("".join(span["text"] for span in line["spans"]), line["bbox"])
                     for block in page.get_text("dict", clip=rect)["blocks"]
                     for line in block.get("lines", ())]
            parts.append(_rows(lines))
        texts.append("\n".join(parts).replace(IMAGE, ""))
    return texts


def model_texts(pdf, name, who):
    """The document model's text of each page, figure placeholders left out; None when the
    model refuses the PDF."""
    try:
        pdfdoc = quorl.PdfDocument(pymupdf.open("pdf", pdf))
    except Exception as e:  # noqa: BLE001 - reported, not hidden
        print("%s: the document model refuses %s: %s" % (name, who, e))
        return None
    return [text.replace(IMAGE, "") for text in model_page_texts(pdfdoc)]


def measure(name, text_pdf, html, bilevel, seed, deskew=False, repeat=1):
    scan = office_scan(text_pdf, DPI, skew=(0.4 if seed % 2 else -0.6), seed=seed,
                       bilevel=bilevel)
    runs = {"ours": lambda: ocr_document(scan, dpi=DPI, jobs=2),
            "theirs": lambda: ocrmypdf(scan)}
    if deskew:  # ocrmypdf leaves a crooked sheet crooked unless told to level it, as quorl does
        runs["levelled"] = lambda: ocrmypdf(scan, "--deskew")
    times = timed(runs, repeat)
    ours, our_wall, our_cpu = times["ours"]
    theirs, their_wall, their_cpu = times["theirs"]
    levelled = times["levelled"][1:] if deskew else None
    truth_doc = quorl.PdfDocument(pymupdf.open("pdf", text_pdf))
    regions, kinds = reading_regions(truth_doc)
    pages = truth_doc.pagecount
    row = dict(name=name, pages=pages, kinds=[kinds.get(n, "-") for n in range(pages)],
               ours=(our_wall, our_cpu),
               theirs=(their_wall, their_cpu), levelled=levelled)
    truth = region_texts(text_pdf, regions)
    row["plain"] = [(similarity(t, a), similarity(t, b)) for t, a, b in
                    zip(truth, region_texts(ours.pdf, regions), region_texts(theirs, regions))]
    model_truth = [text.replace(IMAGE, "") for text in model_page_texts(truth_doc)]
    model_ours = model_texts(ours.pdf, name, "quorl's OCR") or [""] * pages
    row["model"] = [similarity(t, f) for t, f in zip(model_truth, model_ours)]
    with pymupdf.open("pdf", text_pdf) as truth_pages, pymupdf.open("pdf", ours.pdf) as layer:
        row["offsets"] = [d for a, b in zip(truth_pages, layer) for d in char_offsets(a, b)]
    row["ious"] = []
    if html is not None:
        marks = spread_marks(html, 30)
        try:
            for a, b in zip(mark_rects(html, text_pdf, marks), mark_rects(html, ours.pdf, marks)):
                if a[0] is not None:  # a mark the text PDF cannot place is not the OCR's fault
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
        print("| %s | %d | %.1f (%.1f) | %.1f (%.1f) | %.3f | %.3f | %.3f | %s |" % (
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
    print("\nPer page: quorl %.2f s wall, %.2f s CPU; ocrmypdf %.2f s wall, %.2f s CPU" % (
        sum(r["ours"][0] for r in rows) / pages, sum(r["ours"][1] for r in rows) / pages,
        sum(r["theirs"][0] for r in rows) / pages, sum(r["theirs"][1] for r in rows) / pages))
    if all(r["levelled"] for r in rows):
        print("ocrmypdf --deskew, levelling crooked sheets as quorl does: %.2f s wall, %.2f s "
              "CPU" % (sum(r["levelled"][0] for r in rows) / pages,
                       sum(r["levelled"][1] for r in rows) / pages))
    offsets = sorted(d for r in rows for d in r["offsets"])
    if offsets:
        print("Characters of quorl's text layer (agreeing with the text PDF's) within 0.15 / "
              "0.3 em of where the text PDF has them: %.1f%% / %.1f%%, median %.3f em" % (
                  100 * sum(d <= 0.15 for d in offsets) / len(offsets),
                  100 * sum(d <= 0.3 for d in offsets) / len(offsets),
                  offsets[len(offsets) // 2]))
    ious = [i for r in rows for i in r["ious"]]
    if ious:
        print("Marks: %d of %d (%.1f%%) with IoU >= 0.7" % (
            sum(i >= 0.7 for i in ious), len(ious), 100 * sum(i >= 0.7 for i in ious) / len(ious)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--patents", type=int, default=2)
    parser.add_argument("--real", type=int, default=2)
    parser.add_argument("--bilevel", action="store_true")
    parser.add_argument("--deskew", action="store_true",
                        help="time ocrmypdf --deskew as well (it levels crooked sheets)")
    parser.add_argument("--repeat", type=int, default=1,
                        help="time each tool this many times on each scan, keeping the least "
                             "(this machine's speed drifts by a tenth between runs)")
    parser.add_argument("--real-folder", default=None,
                        help="read the real publications from this folder (scans in it, "
                             "without text, are left out)")
    args = parser.parse_args()
    if args.real_folder:
        real_patents.FOLDER = pathlib.Path(args.real_folder)
    names = [path.stem for path in sorted(real_patents.FOLDER.glob("*.pdf"))
             if any(page.get_text().strip() for page in pymupdf.open(path))]
    if shutil.which("ocrmypdf") is None:
        sys.exit("ocrmypdf is missing: apt-get install -y ocrmypdf")
    rows = []
    for seed in range(1, args.patents + 1):
        patent = generate_patent(seed)
        rows.append(measure("patent %d" % seed, patent.pdf, patent.html, args.bilevel, seed,
                            args.deskew, args.repeat))
        print(rows[-1]["name"], "done", flush=True)
    for i, name in enumerate(names[:args.real]):
        with open(real_patents.pdf_path(name), "rb") as f:
            rows.append(measure(name, f.read(), real_patents.standin_html(name), args.bilevel,
                                i, args.deskew, args.repeat))
        print(name, "done", flush=True)
    report(rows)


if __name__ == "__main__":
    main()
