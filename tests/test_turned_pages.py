"""Page geometry as other tools leave it: pages turned by /Rotate mark and read back as the same
patent upright, and a highlight written without /QuadPoints selects the text of its /Rect."""
import json

import pymupdf
import pytest

import patents
from careless_use import command
from patent_files import spread_marks

TURNS = (90, 180, 270)


def written_geometry(path):
    """(page, subtype, /Rect, /QuadPoints, /Contents) of every annotation as the file stores
    them."""
    doc = pymupdf.open(path)
    out = []
    for page in doc:
        for annot in page.annots():
            out.append((page.number, annot.type[1], doc.xref_get_key(annot.xref, "Rect")[1],
                        doc.xref_get_key(annot.xref, "QuadPoints")[1], annot.info["content"]))
    return out


def turned(pdf, turn, path):
    doc = pymupdf.open(stream=pdf)
    for page in doc:
        page.set_rotation(turn)
    doc.save(path)


def mark_and_read(folder, name):
    """quorl-mark and quorl-extract on NAME.pdf: the marks as placed and the records read back."""
    for args in (("quorl-mark", "p.html", name + ".pdf", "m.json", "-o", name + "-marked.pdf",
                  "--marks-out", name + "-marks.json"),
                 ("quorl-extract", "p.html", name + "-marked.pdf", "-o", name + "-read.json")):
        proc = command(*args, cwd=folder)
        assert proc.returncode == 0, proc.stderr.decode()
    return [json.loads((folder / (name + suffix)).read_text("utf-8"))
            for suffix in ("-marks.json", "-read.json")]


@pytest.fixture(scope="module")
def upright(tmp_path_factory):
    """A patent with marks of every kind, some of whose labels stand lower on a page than the
    page is wide, marked and read back upright."""
    folder = tmp_path_factory.mktemp("turned")
    patent = patents.generate_patent(3, figures=1)
    (folder / "p.html").write_text(patent.html, encoding="utf-8")
    (folder / "p.pdf").write_bytes(patent.pdf)
    (folder / "m.json").write_text(json.dumps(spread_marks(patent.html, 48)), "utf-8")
    placed, read = mark_and_read(folder, "p")
    width = pymupdf.open(folder / "p.pdf")[0].rect.width
    assert any(rect[4] > width for mark in placed for rect in mark["rects"])
    return folder, patent, placed, read


@pytest.mark.parametrize("turn", TURNS)
def test_a_turned_patent_marks_and_reads_back_as_upright(upright, turn):
    folder, patent, placed, read = upright
    name = "turned%d" % turn
    turned(patent.pdf, turn, folder / (name + ".pdf"))
    assert mark_and_read(folder, name) == [placed, read]
    assert written_geometry(folder / (name + "-marked.pdf")) == \
        written_geometry(folder / "p-marked.pdf")
    assert {page.rotation for page in pymupdf.open(folder / (name + "-marked.pdf"))} == {turn}


@pytest.mark.parametrize("turn", (0,) + TURNS)
def test_a_highlight_without_quads_selects_the_text_of_its_rect(upright, turn):
    """Reader highlights over quorl's mark rectangles, written once with /QuadPoints and once
    with only /Rect, read back as the same marks."""
    folder, patent, placed, _ = upright
    doc = pymupdf.open(stream=patent.pdf)
    highlights = [m for m in placed if m["type"] == "cth" and len(m["rects"]) == 1]
    assert highlights
    for k, mark in enumerate(highlights):
        page, *rect = mark["rects"][0]
        annot = doc[page].add_highlight_annot(quads=[pymupdf.Rect(rect).quad])
        if k % 2:
            # PyMuPDF widens a highlight's /Rect for its rounded ends; a writer without quads
            # gives the rectangle of the text.
            x0, y0, x1, y1 = pymupdf.Rect(rect) * ~doc[page].transformation_matrix
            doc.xref_set_key(annot.xref, "Rect", "[%r %r %r %r]" % (x0, y0, x1, y1))
            doc.xref_set_key(annot.xref, "QuadPoints", "null")
            doc.xref_set_key(annot.xref, "AP", "null")
    for page in doc:
        page.set_rotation(turn)
    doc.save(folder / "readers.pdf")
    proc = command("quorl-extract", "p.html", "readers.pdf", "-o", "readers.json", cwd=folder)
    assert proc.returncode == 0, proc.stderr.decode()
    records = json.loads((folder / "readers.json").read_text("utf-8"))
    assert all(r["source"] == "reader" and "reason" not in r for r in records)
    assert sorted((r["start"], r["end"]) for r in records) == \
        sorted((m["start"], m["end"]) for m in highlights)
