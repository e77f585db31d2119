"""Time of quorl-mark --ocr auto on a scanned patent followed by many blank pages.

A generated patent is scanned as an office scanner leaves it (tests/scans.py) and ``--blank``
pages are added after it: empty pages (``--kind empty``, as a page-adding tool leaves them) or
sheets scanned blank, grey and speckled (``--kind scanned``). The command marks it against the
patent's HTML with no marks; the time is the command's whole run, in process.

    PYTHONPATH=src .venv/bin/python bench/bench_blank_pages.py --blank 5000
"""
import argparse
import json
import os
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))


def blank_scan(blank, kind):
    import pymupdf

    from patents import generate_patent
    from scans import OFFICE, jpeg, office_scan, scan_image

    patent = generate_patent(0)
    doc = pymupdf.open("pdf", office_scan(patent.pdf))
    sheet = None
    for _ in range(blank):
        page = doc.new_page(width=595, height=842)
        if kind == "scanned":
            if sheet is None:
                sheet = jpeg(scan_image(page, 300, blank=True, noise=OFFICE["noise"],
                                        paper=OFFICE["paper"], shade=OFFICE["shade"],
                                        speckle=OFFICE["speckle"]), OFFICE["quality"])
            page.insert_image(page.rect, stream=sheet)
    return patent, doc.tobytes(garbage=1, deflate=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--blank", type=int, default=5000)
    parser.add_argument("--kind", choices=("empty", "scanned"), default="empty")
    args = parser.parse_args()
    from quorl_mark.commands import mark as cli

    patent, pdf = blank_scan(args.blank, args.kind)
    with tempfile.TemporaryDirectory() as folder:
        paths = [os.path.join(folder, name) for name in ("p.html", "p.pdf", "m.json", "o.pdf")]
        with open(paths[0], "w", encoding="utf-8") as f:
            f.write(patent.html)
        with open(paths[1], "wb") as f:
            f.write(pdf)
        with open(paths[2], "w") as f:
            json.dump([], f)
        start = time.perf_counter()
        code = cli.main([paths[0], paths[1], paths[2], "-o", paths[3], "--ocr", "auto",
                         "--quiet"])
        seconds = time.perf_counter() - start
    print("%d %s blank pages after a %d-page scan: exit %d, %.1f s"
          % (args.blank, args.kind, len(patent.page_kinds), code, seconds))


if __name__ == "__main__":
    main()
