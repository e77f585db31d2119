"""Random marks on real publications against their stand-in HTML: how many read back exactly, and
how many have rectangles that cover text outside them.

    python bench/real_marks_measure.py [FOLDER] [--marks N]

FOLDER holds text publications (default tests/real_pdfs). Per publication, N random marks of every
kind (seeded by the publication number, kept where the stand-in agrees with the PDF) are drawn
with pdf_marker and read back with pdf_annotations_to_marks. A mark covers text outside it when a
rectangle of it reaches over a third or more of a character it does not hold, each character
taken where its ink stands: PyMuPDF's own box, cut where the next character of its line begins,
full-width punctuation in the half of its em it is printed in.
"""
import argparse
import contextlib
import io
import pathlib
import re
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))

import quorl  # noqa: E402
import real_patents  # noqa: E402
import roundtrip  # noqa: E402
from quorl_mark import pdf_annotations_to_marks  # noqa: E402

OPENING = "（“‘《〈「『【"
CLOSING = "，。、；：！？）”’》〉」』】"


def ink_boxes(page):
    """(character, [x0, y0, x1, y1]) of a page, each where its ink stands."""
    chars = []
    for block in page.get_text("rawdict")["blocks"]:
        for line in block.get("lines", ()):
            read = [(c["c"], list(c["bbox"])) for s in line["spans"] for c in s["chars"]]
            for (_, box), (_, following) in zip(read, read[1:]):
                if box[0] < following[0] < box[2]:
                    box[2] = following[0]
            for c, box in read:
                width = box[2] - box[0]
                if c in OPENING and width > 8:
                    box[0] = box[2] - width / 2
                elif c in CLOSING and width > 8:
                    box[2] = box[0] + width / 2
            chars += read
    return chars


def covered(rect, chars):
    """The characters a rectangle reaches over by a third of their width and half their height."""
    out = ""
    for c, (x0, y0, x1, y1) in chars:
        across = min(x1, rect.x1) - max(x0, rect.x0)
        down = min(y1, rect.y1) - max(y0, rect.y0)
        if x1 > x0 and down > 0.5 * (y1 - y0) and across > (x1 - x0) / 3 and not c.isspace():
            out += c
    return out


def measure(path, count):
    name = path.stem
    real_patents.FOLDER = path.parent
    html, pdf = real_patents.standin_html(name), path.read_bytes()
    with contextlib.redirect_stdout(io.StringIO()):
        converter = quorl.get_patent_converter(html, pdf)
        marks = roundtrip.spread_marks(converter, 3 * count, name)
        marks = [m for m in marks
                 if roundtrip.agrees(converter.difflist, m["start"], m["end"])][:count]
        marked = quorl.pdf_marker(quorl.get_patent_converter(html, pdf),
                                  [dict(m) for m in marks])
    records = pdf_annotations_to_marks(converter, marked)
    exact = sum(1 for m in marks if (r := roundtrip.find_record(records, m))
                and (m["type"] == "flag" or r["exact"]))
    pages, covering = {}, 0
    for mark in marks:
        if mark["type"] == "flag":
            continue
        lines = converter.convert_mark_html2pdf({"start": mark["start"],
                                                 "end": mark["end"]})["pdflines"]
        (first, (start, _)), (last, (_, end)) = lines[0], lines[-1]
        under = ""
        for page, rect in converter.pdfdoc.getcontentposition((first, start), (last, end)):
            if page not in pages:
                pages[page] = ink_boxes(converter.pdfdoc.doc[page])
            under += covered(rect, pages[page])
        if len(under) > len(re.sub(r"\s", "", converter.htmldoc.text[mark["start"]:mark["end"]])):
            covering += 1
    return len(marks), exact, covering


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder", nargs="?", type=pathlib.Path,
                        default=pathlib.Path(__file__).resolve().parent.parent / "tests/real_pdfs")
    parser.add_argument("--marks", type=int, default=60)
    args = parser.parse_args()
    totals = [0, 0, 0]
    for path in sorted(args.folder.glob("*.pdf")):
        try:
            counts = measure(path, args.marks)
        except Exception as e:  # a scan without text, or a publication the stand-in cannot read
            print("%s: left out (%s: %s)" % (path.stem, type(e).__name__, e))
            continue
        print("%s: %d marks, %d read back exactly, %d cover text outside them"
              % ((path.stem,) + counts))
        totals = [a + b for a, b in zip(totals, counts)]
    print("all: %d marks, %d read back exactly, %d cover text outside them" % tuple(totals))


if __name__ == "__main__":
    main()
