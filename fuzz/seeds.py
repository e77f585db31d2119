"""Writes the seed inputs of the harnesses into CORPUS/<harness>/: real text (the sample patent,
generated test patents and the real publications of tests/real_pdfs) in the form
common.seed_fields reads, so that the fuzzer starts from what quorl is given in use.

    python fuzz/seeds.py CORPUS
"""
import json
import pathlib
import sys

import pymupdf

from common import EXAMPLES, SEED_MARK

import patents
import real_patents
import quorl
from quorl_mark.vocabulary import SECTIONS

# Seeds are cut to this many characters a field: long inputs slow every run down.
FIELD_CHARS = 4000
# The alignment harness checks every run against difflib, whose time grows with the square.
ALIGN_CHARS = 400


def seed(*fields, chars=FIELD_CHARS):
    return SEED_MARK + "\x00".join(f[:chars] for f in fields).encode("utf-8")


def sources():
    """(name, HTML, PDF bytes) of every patent the seeds come from."""
    yield "sample", (EXAMPLES / "sample.html").read_text(encoding="utf-8"), \
        (EXAMPLES / "sample.pdf").read_bytes()
    for number in range(4):
        patent = patents.generate_patent(number, figures=1)
        yield "generated-%d" % number, patent.html, patent.pdf
    for name in real_patents.NAMES:
        yield name, real_patents.standin_html(name), real_patents.pdf_path(name).read_bytes()


def seeds_of(name, html, pdf):
    """harness -> {file name: input} of one patent."""
    htmldoc = quorl.HtmlDocument(html, parserlist=[{"name": ["img", "div", "h2"]}])
    pdftext = "\n".join(page.get_text() for page in pymupdf.open("pdf", pdf))
    sections = [htmldoc.get_text(section) if htmldoc.infodict.get(section) else ""
                for section, _ in SECTIONS]
    out = {"fuzz_html": {name: seed(html)},
           "fuzz_pdf": {name: seed(*sections)},
           "fuzz_align": {}}
    for index, text in enumerate(sections):
        if text:
            # Each section against the whole PDF text, as the converter aligns them.
            out["fuzz_align"]["%s-%d" % (name, index)] = seed(text, pdftext, chars=ALIGN_CHARS)
    if name == "sample":
        marks = json.loads((EXAMPLES / "sample-marks.json").read_text(encoding="utf-8"))
        out["fuzz_marks"] = {name: seed(json.dumps(marks, ensure_ascii=False))}
    else:
        length = len(htmldoc.text)
        marks = [{"start": s, "end": min(s + 40, length), "type": kind, "title": str(n),
                  "content": htmldoc.text[s:s + 10]}
                 for n, (s, kind) in enumerate(zip(range(0, length, max(length // 6, 1)),
                                                   ["par", "cth", "imgpar", "imgig", "flag",
                                                    "equal"]))]
        out["fuzz_marks"] = {name: seed(json.dumps(marks, ensure_ascii=False))}
    return out


# Ids a position marker cannot hold as they are (the parser turns the carriage return into a line
# break): such elements were once left with their markers in the document text.
ODD_IDS_HTML = ('<div id="claims"><div id="c\r1">1.一种装置。</div><div id="c|2">2.根据</div></div>'
                '<div id="description">[0001]技术领域</div>')


def all_seeds():
    """harness -> {file name: input}, a dict at a time."""
    for name, html, pdf in sources():
        yield seeds_of(name, html, pdf)
    yield {"fuzz_html": {"odd-ids": seed(ODD_IDS_HTML)}}


def main(corpus):
    corpus = pathlib.Path(corpus)
    written = 0
    for seeds in all_seeds():
        for harness, inputs in seeds.items():
            folder = corpus / harness
            folder.mkdir(parents=True, exist_ok=True)
            for file_name, data in inputs.items():
                (folder / ("seed-" + file_name)).write_bytes(data)
                written += 1
    print("%d seed inputs in %s" % (written, corpus))


if __name__ == "__main__":
    main(sys.argv[1])
