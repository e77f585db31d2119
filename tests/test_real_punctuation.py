"""Real publications that set full-width punctuation half-width while its box stays a full em:
a mark ending on such punctuation stops where the next character begins, a reader's highlight
starting right after it comes back without it, and random marks of every kind read back as they
were drawn, all through quorl-mark and quorl-extract."""
import contextlib
import io
import json

import pymupdf
import pytest

import quorl
import real_patents
import roundtrip
from careless_use import command

NARROW = "，、；："
# The publications set in SimSun with MS-Mincho, whose punctuation overlaps the next character.
SET_NARROW = ["CN110532550A", "CN114785666B"]


@pytest.fixture(scope="module", params=real_patents.NAMES)
def real(request, tmp_path_factory):
    """A real publication's folder with p.html (its stand-in) and p.pdf, and its converter."""
    name = request.param
    folder = tmp_path_factory.mktemp(name)
    html, pdf = real_patents.standin_html(name), real_patents.pdf_path(name).read_bytes()
    (folder / "p.html").write_text(html, encoding="utf-8")
    (folder / "p.pdf").write_bytes(pdf)
    with contextlib.redirect_stdout(io.StringIO()):
        converter = quorl.get_patent_converter(html, pdf)
    return name, folder, converter


def run(folder, *args):
    proc = command(*args, cwd=folder)
    assert proc.returncode == 0, proc.stderr.decode()


def read_json(path):
    return json.loads(path.read_text(encoding="utf-8"))


def narrow_places(converter, count):
    """Up to ``count`` places, spread over the publication, where PyMuPDF's own reading has
    punctuation whose box reaches a point or more into the next character's on its line, and
    the HTML agrees with the PDF from six characters before it to five after: (page, the
    punctuation's box, the boxes of the five characters after it, their text, and the HTML span
    of the six characters before it and the punctuation)."""
    records = converter.pdfdoc.get_lines()
    lines = converter.pdfdoc.get_text().split("\n")
    starts = [0]
    for line in lines:
        starts.append(starts[-1] + len(line))
    where = {}  # (page, character, x0, y0) -> offset in the whole text
    for index, record in enumerate(records):
        if "\u00a0" not in record["text"]:
            for k, ch in enumerate(record["chars"]):
                key = (record["page"], ch["c"], round(ch["bbox"][0], 2), round(ch["bbox"][1], 2))
                where[key] = starts[index] + k
    pairs = sorted((b, a) for a, b in converter.difflist)
    places = []
    for page in converter.pdfdoc.doc:
        for block in page.get_text("rawdict")["blocks"]:
            for line in block.get("lines", ()):
                chars = [c for span in line["spans"] for c in span["chars"]]
                for k, (a, b) in enumerate(zip(chars, chars[1:])):
                    after = chars[k + 1:k + 6]
                    key = (page.number, a["c"], round(a["bbox"][0], 2), round(a["bbox"][1], 2))
                    if a["c"] not in NARROW or b["bbox"][0] > a["bbox"][2] - 1 or \
                            len(after) < 5 or key not in where or \
                            not all(c["c"].isalnum() for c in after):
                        continue
                    offset = where[key]
                    start, end = quorl.convert_span_a2b((offset - 6, offset + 6), pairs)[1]
                    if end - start == 12 and roundtrip.agrees(converter.difflist, start, end):
                        places.append((page.number, a["bbox"], [c["bbox"] for c in after],
                                       "".join(c["c"] for c in after), (start, start + 7)))
    assert len(places) >= count
    return places[::len(places) // count][:count]


@pytest.mark.parametrize("real", SET_NARROW, indirect=True)
def test_a_mark_ending_on_narrow_punctuation_stops_at_the_next_character(real):
    _, folder, converter = real
    places = narrow_places(converter, 6)
    marks = []
    for k, (*_, (start, end)) in enumerate(places):
        marks.append({"start": start, "end": end, "type": "cth", "title": "",
                      "content": "mark %d" % k})
    (folder / "narrow.json").write_text(json.dumps(marks), encoding="utf-8")
    run(folder, "quorl-mark", "p.html", "p.pdf", "narrow.json", "-o", "narrow.pdf",
        "--marks-out", "narrow-out.json")
    run(folder, "quorl-extract", "p.html", "narrow.pdf", "-o", "narrow-read.json")
    text = converter.htmldoc.text
    for mark, (page, punctuation, after, _, _) in zip(read_json(folder / "narrow-out.json"),
                                                      places):
        assert text[mark["end"] - 1] in NARROW
        *_, [on_page, x0, _, x1, _] = mark["rects"]
        assert on_page == page and x0 < punctuation[2] and x1 == pytest.approx(after[0][0])
    records = read_json(folder / "narrow-read.json")
    assert sorted((r["start"], r["end"], r["exact"]) for r in records) == \
        sorted((m["start"], m["end"], True) for m in marks)


@pytest.mark.parametrize("real", SET_NARROW, indirect=True)
def test_a_readers_highlight_after_narrow_punctuation_comes_back_without_it(real):
    _, folder, converter = real
    places = narrow_places(converter, 6)
    doc = pymupdf.open(folder / "p.pdf")
    for page, _, after, _, _ in places:
        doc[page].add_highlight_annot(quads=[pymupdf.Rect(after[0][0], after[0][1],
                                                          after[-1][2], after[-1][3]).quad])
    doc.save(folder / "reader.pdf")
    run(folder, "quorl-extract", "p.html", "reader.pdf", "-o", "reader-read.json")
    records = read_json(folder / "reader-read.json")
    assert sorted(r["pdf_text"] for r in records) == sorted(text for *_, text, _ in places)
    assert all(r["exact"] for r in records)


def test_random_marks_read_back_as_drawn(real):
    name, folder, converter = real
    with contextlib.redirect_stdout(io.StringIO()):
        marks = roundtrip.spread_marks(converter, 120, name)
    # The stand-in HTML differs from the PDF in many blanks; marks over them come back widened
    # to the differing text, by design.
    marks = [m for m in marks if roundtrip.agrees(converter.difflist, m["start"], m["end"])]
    assert len(marks) >= 40
    (folder / "random.json").write_text(json.dumps(marks), encoding="utf-8")
    run(folder, "quorl-mark", "p.html", "p.pdf", "random.json", "-o", "random.pdf")
    run(folder, "quorl-extract", "p.html", "random.pdf", "-o", "random-read.json")
    records = read_json(folder / "random-read.json")
    for mark in marks:
        record = roundtrip.find_record(records, mark)
        assert record is not None, (name, mark)
        assert mark["type"] == "flag" or record["exact"], (name, mark, record)
