"""Construction time of PdfDocument on a 40-page test patent, next to the floor: the time PyMuPDF
alone needs to extract the raw dicts of all its pages."""
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


def timed(fn, pdf):
    doc = pymupdf.open("pdf", pdf)
    start = time.perf_counter()
    fn(doc)
    elapsed = time.perf_counter() - start
    doc.close()
    return elapsed


def measure(fns, pdf):
    """Runs the contenders alternately, so that a busy machine slows them alike."""
    times = [[] for _ in fns]
    for _ in range(ROUNDS):
        for k, fn in enumerate(fns):
            times[k].append(timed(fn, pdf))
    return [(min(t), statistics.median(t)) for t in times]


def extract_all(doc):
    for number in range(doc.page_count):
        doc[number].get_text("rawdict")


def main():
    patent = generate_patent(7, pages=40, sequences=2, split_lines=6, nbsp_lines=6,
                             mixed_size_lines=6)
    pages = len(patent.page_kinds)
    (floor_best, floor_median), (build_best, build_median) = measure(
        [extract_all, quorl.PdfDocument], patent.pdf)
    doc = quorl.PdfDocument(pymupdf.open("pdf", patent.pdf))
    print("PdfDocument construction, %d-page test patent, %d lines, best (median) of %d runs"
          % (pages, len(doc.lines), ROUNDS))
    print("%-44s %9s %9s" % ("", "best ms", "median ms"))
    print("%-44s %9.1f %9.1f" % ("PyMuPDF rawdict extraction of every page", floor_best * 1e3,
                                   floor_median * 1e3))
    print("%-44s %9.1f %9.1f" % ("quorl.PdfDocument(doc)", build_best * 1e3, build_median * 1e3))
    print("ratio %.2fx of the best times, %.2fx of the medians (target at most %.1fx)"
          % (build_best / floor_best, build_median / floor_median, TARGET))


if __name__ == "__main__":
    main()
