"""Construction time of PdfDocument on a 40-page test patent, next to the floor: the time PyMuPDF
alone needs to extract the raw dicts of all its pages (each dict dropped as soon as it is made).

The construction is timed up to the moment the document is built; the document is released
afterwards, outside the clock. A second row adds that release, which frees every character dict
the line records hold."""
import pathlib
import statistics
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))

import pymupdf  # noqa: E402

import quorl  # noqa: E402
from patents import generate_patent  # noqa: E402

ROUNDS = 15
TARGET = 1.3


def extract_all(pdf):
    doc = pymupdf.open("pdf", pdf)
    start = time.perf_counter()
    for number in range(doc.page_count):
        doc[number].get_text("rawdict")
    return time.perf_counter() - start


def construct(pdf):
    doc = pymupdf.open("pdf", pdf)
    start = time.perf_counter()
    built = quorl.PdfDocument(doc)
    elapsed = time.perf_counter() - start
    del built
    return elapsed


def construct_and_release(pdf):
    doc = pymupdf.open("pdf", pdf)
    start = time.perf_counter()
    quorl.PdfDocument(doc)
    return time.perf_counter() - start


def measure(contenders, pdf):
    """Runs the contenders alternately, so that a busy machine slows them alike."""
    times = [[] for _ in contenders]
    for _ in range(ROUNDS):
        for k, contender in enumerate(contenders):
            times[k].append(contender(pdf))
    return [(min(t), statistics.median(t)) for t in times]


def main():
    patent = generate_patent(7, pages=40, sequences=2, split_lines=6, nbsp_lines=6,
                             mixed_size_lines=6)
    rows = [("PyMuPDF rawdict extraction of every page", extract_all),
            ("quorl.PdfDocument(doc)", construct),
            ("quorl.PdfDocument(doc), then released", construct_and_release)]
    results = measure([fn for _, fn in rows], patent.pdf)
    lines = len(quorl.PdfDocument(pymupdf.open("pdf", patent.pdf)).lines)
    print("PdfDocument construction, %d-page test patent, %d lines, best and median of %d runs"
          % (len(patent.page_kinds), lines, ROUNDS))
    (floor_best, floor_median) = results[0]
    print("%-42s %8s %10s %7s" % ("", "best ms", "median ms", "ratio"))
    for (label, _), (best, median) in zip(rows, results):
        print("%-42s %8.1f %10.1f %6.2fx" % (label, best * 1e3, median * 1e3, best / floor_best))
    print("target: construction at most %.1fx the extraction (ratio of the best times)" % TARGET)


if __name__ == "__main__":
    main()
