"""A text PDF's first page may draw its emblem, rules and separator in any order and number (a
producer that paints from the top down, an emblem printed as an image): the separator is the
rule under the page-count box, so such a patent reads and marks as the same patent drawn the
usual way."""
import json

import pymupdf
import pytest

import quorl
from patent_files import write_patent
from quorl_mark.commands import mark as cli

VARIANTS = [("top_down", "header_rule"), ("emblem_image",), ("emblem_image", "footer_rule"),
            ("emblem_image", "header_rule", "top_down"),
            ("top_down", "logo", "header_rule", "footer_rule")]


def marked(folder, paths):
    out = folder / "marks-out.json"
    assert cli.main([*map(str, paths), "-o", str(folder / "out.pdf"), "--marks-out", str(out),
                     "-q"]) == 0
    return [(m["start"], m["end"], m["rects"]) for m in json.loads(out.read_text("utf-8"))]


@pytest.fixture(scope="module")
def plain(tmp_path_factory):
    folder = tmp_path_factory.mktemp("plain")
    paths = write_patent(folder, "p", 5, marks=16, pages=4)
    document = quorl.PdfDocument(pymupdf.open(paths[1]))
    return document.separatemargin, document.text, marked(folder, paths)


@pytest.mark.parametrize("extras", VARIANTS, ids="+".join)
def test_a_first_page_drawn_otherwise_reads_and_marks_as_the_usual_one(extras, plain,
                                                                       tmp_path):
    paths = write_patent(tmp_path, "p", 5, marks=16, pages=4, first_page=extras)
    separator, text, marks = plain
    doc = pymupdf.open(paths[1])
    drawings = doc[0].get_drawings()
    assert len(drawings) < 2 or drawings[1]["rect"] != separator  # the second is another
    document = quorl.PdfDocument(doc)
    assert document.separatemargin == separator and document.text == text
    assert marked(tmp_path, paths) == marks
