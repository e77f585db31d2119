"""Regenerates the sample patent of examples/: sample.html, sample.pdf and sample-marks.json.

The patent comes from the project's test-patent generator (tests/patents.py), with a few small
differences between the HTML and the PDF text so that the alignment has something to bridge.
The marks exercise every kind of marker: number labels (single, range, duplicate), plain
highlights, image labels with and without a placed region, a flag, an `equal` mark, and a mark
that runs across a page break.

    python examples/make_sample.py [OUTDIR]      (default: the folder of this script)
"""
import contextlib
import logging
import io
import json
import os
import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

import patents  # noqa: E402
import quorl  # noqa: E402

SEED = 7
KNOBS = dict(claims=5, paragraphs=12, figures=2, split_lines=2, nbsp_lines=1,
             substitutions=2, halfwidth=2)


def span_of(htmldoc, element_id, start=0, length=None):
    record = htmldoc.infodict[element_id]
    first = record["start"] + start
    last = record["end"] if length is None else min(record["end"], first + length)
    return first, last


def crossing_paragraph(converter):
    """A description paragraph whose PDF lines lie on two pages."""
    htmldoc, pdfdoc = converter.htmldoc, converter.pdfdoc
    for element_id in sorted(htmldoc.infodict):
        if not element_id.startswith("p"):
            continue
        start, end = span_of(htmldoc, element_id)
        mark = converter.convert_mark_html2pdf({"start": start, "end": end})
        pages = {pdfdoc.lines[line]["page"] for line, _ in mark["pdflines"]}
        if len(pages) > 1:
            return element_id
    raise SystemExit("no paragraph crosses a page break; try another seed")


def make_marks(converter):
    doc = converter.htmldoc
    crossing = crossing_paragraph(converter)
    plan = [
        ("par", "1", "claim 1, preamble", "", span_of(doc, "cl0001", 0, 24)),
        ("par", "2-3", "claims 2 and 3", "", span_of(doc, "cl0002", 2, 30)),
        ("cth", "4", "abstract: the gist", "", span_of(doc, "abstract", 6, 40)),
        ("equal", "1", "the same feature as claim 1", "EQUAL", span_of(doc, "p0004", 6, 20)),
        ("par", "5", "embodiment across a page break", "", span_of(doc, crossing)),
        ("flag", "6", "实施例", "", span_of(doc, "p0006", 0, 6)),
        ("imgpar", "7", "figure 1", "", span_of(doc, "fc0001")),
        ("imgig", "8", "S101", "imagenote#0,0,1000,1000$", span_of(doc, "fc0002")),
    ]
    marks = []
    for kind, title, content, info, (start, end) in plan:
        mark = {"start": start, "end": end, "type": kind, "title": title, "content": content}
        if info:
            mark["info"] = info
        marks.append(mark)
    return marks


def main(outdir):
    out = pathlib.Path(outdir)
    out.mkdir(parents=True, exist_ok=True)
    patent = patents.generate_patent(SEED, **KNOBS)
    # The module's progress lines and warnings are of no interest here.
    logging.getLogger().addHandler(logging.NullHandler())
    with contextlib.redirect_stdout(io.StringIO()):
        converter = quorl.get_patent_converter(patent.html, patent.pdf)
        marks = make_marks(converter)
        # Every mark must convert and draw; a failure here is a fault of the sample.
        quorl.pdf_marker(converter, [dict(m) for m in marks])
    (out / "sample.html").write_text(patent.html, encoding="utf-8")
    (out / "sample.pdf").write_bytes(patent.pdf)
    text = json.dumps(marks, ensure_ascii=False, indent=2) + "\n"
    (out / "sample-marks.json").write_text(text, encoding="utf-8")
    print("wrote %s: %d pages (%s), %d marks" % (
        os.path.relpath(out), len(patent.page_kinds), ", ".join(patent.page_kinds), len(marks)))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else HERE)
