"""The whole road on generated patents: HTML and PDF bytes in, converter, mark conversion, the
marked PDF out, read back with PyMuPDF; and the relations written into the HTML."""
import contextlib
import io
import json
import pathlib
import re

import pymupdf
import pytest
from bs4 import BeautifulSoup

import patents
import quorl

SECTIONS = ["cn-bibliographic-info", "claims", "description", "drawings"]


def quietly(function, *args):
    with contextlib.redirect_stdout(io.StringIO()):
        return function(*args)


def converter_for(patent, html=None, pdf=None):
    return quietly(quorl.get_patent_converter, patent.html if html is None else html,
                   patent.pdf if pdf is None else pdf)


def element_span(converter, element_id, start=0, length=None):
    record = converter.htmldoc.infodict[element_id]
    first = record["start"] + start
    return first, (record["end"] if length is None else min(record["end"], first + length))


def mark(converter, element_id, kind="par", title="1", start=0, length=None, **extra):
    first, last = element_span(converter, element_id, start, length)
    return dict({"start": first, "end": last, "type": kind, "title": title,
                 "content": "%s %s" % (kind, title)}, **extra)


def pdf_text_of(converter, record):
    lines = converter.pdfdoc.get_text().split("\n")
    return "".join(lines[line][a:b] for line, (a, b) in record["pdflines"])


def annotations(data):
    """Per annotation: page, type, subject, content, and the text it covers (highlights)."""
    doc = pymupdf.open("pdf", data)
    # The page text is read from a copy without annotations: labels would add their own text.
    bare = pymupdf.open("pdf", data)
    for page in bare:
        for annot in list(page.annots()):
            page.delete_annot(annot)
    out = []
    for page in doc:
        for annot in page.annots():
            covered = None
            if annot.type[1] == "Highlight":
                quad = pymupdf.Rect(annot.vertices[0], annot.vertices[-1])
                # Characters only touching the quad's sides are not covered.
                covered = bare[page.number].get_textbox(quad + (1, 1, -1, -1)).strip()
            out.append((page.number, annot.type[1], annot.info["subject"], annot.info["content"],
                        covered))
    doc.close()
    bare.close()
    return out


def check_alignment(converter):
    """Every entry relates equal stretches, sections keep their order, and each entry lies in
    one HTML section and one PDF page kind."""
    html = converter.htmldoc.text
    pdf = converter.pdfdoc.get_text().replace("\n", "")
    entries = converter.difflist
    assert [e[0][0] for e in entries] == sorted(e[0][0] for e in entries)
    assert [e[1][0] for e in entries] == sorted(e[1][0] for e in entries)
    for (a1, a2), (b1, b2) in entries:
        assert a2 - a1 == b2 - b1 > 0
        same = sum(html[a1 + k] == pdf[b1 + k] for k in range(a2 - a1))
        assert (a2 - a1) - same <= (a2 - a1) // 2
        assert any(r["start"] <= a1 and a2 <= r["end"]
                   for s, r in converter.htmldoc.infodict.items() if s in SECTIONS)


@pytest.fixture(scope="module")
def plain():
    return patents.generate_patent(21, claims=5, paragraphs=14, figures=2)


@pytest.fixture(scope="module")
def plain_converter(plain):
    return converter_for(plain)


class TestConversion:
    def test_alignment_is_ordered_and_exact(self, plain_converter):
        check_alignment(plain_converter)
        assert len(plain_converter.difflist) >= 4

    @pytest.mark.parametrize("element_id", ["abstract", "cl0001", "cl0003", "p0004", "fc0001"])
    def test_marks_land_on_the_same_text(self, plain_converter, element_id):
        record = plain_converter.convert_mark_html2pdf(mark(plain_converter, element_id))
        first, last = element_span(plain_converter, element_id)
        assert pdf_text_of(plain_converter, record) == plain_converter.htmldoc.text[first:last]

    def test_line_pieces_follow_each_other(self, plain_converter):
        record = plain_converter.convert_mark_html2pdf(mark(plain_converter, "p0008"))
        lines = plain_converter.pdfdoc.get_text().split("\n")
        numbers = [line for line, _ in record["pdflines"]]
        assert numbers == list(range(numbers[0], numbers[0] + len(numbers)))
        for line, (a, b) in record["pdflines"][1:-1]:
            assert (a, b) == (0, len(lines[line]))

    def test_pdf_lines_know_their_pages(self, plain, plain_converter):
        for element_id in ["cl0001", "p0010", "fc0002"]:
            record = plain_converter.convert_mark_html2pdf(mark(plain_converter, element_id))
            for line, _ in record["pdflines"]:
                page = plain_converter.pdfdoc.lines[line]["page"]
                kind = {"c": "claims", "p": "descriptions", "f": "drawings"}[element_id[0]]
                assert plain.page_kinds[page] == kind


def every_kind(converter):
    return [
        mark(converter, "cl0001", "par", "1", 0, 15),
        mark(converter, "cl0002", "par", "2-3", 2, 10),
        mark(converter, "abstract", "cth", "4", 4, 20),
        mark(converter, "p0003", "equal", "1", 0, 12, info="EQUAL"),
        mark(converter, "p0005", "equal", "5", 0, 9),
        mark(converter, "p0006", "flag", "6", 0, 6, content="实施例"),
        mark(converter, "fc0001", "imgpar", "7"),
        mark(converter, "fc0002", "imgig", "8", info="imagenote#0,0,1000,1000$", content="S1"),
    ]


class TestMarkedPdf:
    def test_every_kind_of_mark(self, plain, capsys):
        converter = converter_for(plain)
        marks = every_kind(converter)
        data = quorl.pdf_marker(converter, marks)
        out = capsys.readouterr().out.splitlines()
        assert out == [repr(marks)] + [repr(("markinfo:", m)) for m in marks]
        found = annotations(data)
        subjects = [a[2] for a in found]
        assert subjects.count("SingleNUM") == 3  # par 1, equal 5, imgpar 7
        assert subjects.count("Range") == 1 and subjects.count("Duplicate") == 1
        assert subjects.count("IGseq") == 1
        free_texts = [a[3] for a in found if a[1] == "FreeText" and a[2] == ""]
        assert sorted(free_texts) == ["Claims", "实施例"]
        assert ("=1" in [a[3] for a in found]) and ("2-3" in [a[3] for a in found])
        # Every highlight covers exactly the characters of its mark's line pieces.
        lines = converter.pdfdoc.get_text().split("\n")
        expected = [lines[line][a:b] for m in marks if m["type"] in ("par", "cth", "equal")
                    for line, (a, b) in m["pdflines"]]
        assert sorted(a[4] for a in found if a[1] == "Highlight") == sorted(expected)

    def test_equal_marks_draw_like_par_marks(self, plain, capsys):
        first, second = converter_for(plain), converter_for(plain)
        as_equal = mark(first, "p0004", "equal", "9", 0, 10)
        as_par = dict(mark(second, "p0004", "par", "9", 0, 10), content=as_equal["content"])
        assert annotations(quorl.pdf_marker(first, [as_equal])) == annotations(
            quorl.pdf_marker(second, [as_par]))

    def test_mark_across_a_page_break(self, capsys):
        patent = patents.generate_patent(5, paragraphs=30)
        converter = converter_for(patent)
        pdfdoc = converter.pdfdoc
        for element_id in sorted(i for i in converter.htmldoc.infodict if i.startswith("p")):
            record = converter.convert_mark_html2pdf(mark(converter, element_id, "par", "12"))
            pages = [pdfdoc.lines[line]["page"] for line, _ in record["pdflines"]]
            if len(set(pages)) == 2:
                break
        else:
            pytest.fail("no paragraph crosses a page break")
        found = annotations(converter.mark_pdf([record]))
        highlights = [a for a in found if a[1] == "Highlight"]
        assert [a[0] for a in highlights] == pages
        assert "".join(a[4] for a in highlights) == converter.htmldoc.get_text(element_id)
        (label,) = [a for a in found if a[2] == "SingleNUM"]
        assert label[0] == pages[0] and label[3] == "12"

    def test_second_call_carries_both_calls_annotations(self, plain, capsys):
        converter = converter_for(plain)
        one, two = mark(converter, "cl0001", "cth", "1"), mark(converter, "p0002", "par", "2")
        first = annotations(quorl.pdf_marker(converter, [one]))
        second = annotations(quorl.pdf_marker(converter, [two]))
        assert len(first) == len(one["pdflines"])
        assert len(second) == len(first) + len(two["pdflines"]) + 1
        assert all(a in second for a in first)
        assert {a[3] for a in second} == {"cth 1", "par 2", "2"}

    def test_no_marks_gives_an_unannotated_copy(self, plain, capsys):
        converter = converter_for(plain)
        data = quorl.pdf_marker(converter, [])
        assert capsys.readouterr().out.endswith("[]\n")
        assert annotations(data) == []
        assert pymupdf.open("pdf", data).page_count == len(plain.page_kinds)


class TestPatentShapes:
    def test_sequence_listing(self, capsys):
        patent = patents.generate_patent(8, sequences=2)
        converter = converter_for(patent)
        pdfdoc = converter.pdfdoc
        assert pdfdoc.parsedict["seqs"]["pages"] == [] and pdfdoc.get_text(["seqs"]) == ""
        check_alignment(converter)
        record = converter.convert_mark_html2pdf(mark(converter, "sq0002", "par", "3", 0, 40))
        page = pdfdoc.lines[record["pdflines"][0][0]]["page"]
        assert patent.page_kinds[page] == "seqs"
        first, last = element_span(converter, "sq0002", 0, 40)
        # The listing's groups are separated by blanks in the HTML and by line breaks in the PDF.
        assert pdf_text_of(converter, record).replace(" ", "") == \
            converter.htmldoc.text[first:last].replace(" ", "")
        found = annotations(converter.mark_pdf([record]))
        pages = [pdfdoc.lines[line]["page"] for line, _ in record["pdflines"]]
        assert [a[0] for a in found if a[1] == "Highlight"] == pages
        assert [a[2] for a in found if a[1] == "FreeText"] == ["SingleNUM"]

    def test_without_drawings(self, capsys):
        patent = patents.generate_patent(9, figures=0)
        assert "drawings" not in patent.page_kinds
        converter = converter_for(patent)
        assert converter.pdfdoc.get_text(["drawings"]) == ""
        check_alignment(converter)
        marks = [mark(converter, "cl0001", "par", "1", 0, 10),
                 mark(converter, "p0003", "flag", "2", 0, 5)]
        found = annotations(quorl.pdf_marker(converter, marks))
        assert [a[2] for a in found if a[1] == "Highlight"] == ["Highlight"]

    def test_html_missing_a_section_keeps_the_alignment_in_order(self, plain, capsys):
        start = plain.html.index('<div id="drawings">')
        end = plain.html.index("</div>\n</body>") + len("</div>\n")
        html = plain.html[:start] + plain.html[end:]
        converter = converter_for(plain, html)
        assert "drawings" not in converter.htmldoc.infodict
        check_alignment(converter)
        full = converter_for(plain)
        assert converter.difflist == [e for e in full.difflist
                                      if e[0][1] <= full.htmldoc.infodict["description"]["end"]]

    def test_edited_html_still_maps(self, capsys):
        patent = patents.generate_patent(16, substitutions=4, insertions=3, deletions=3,
                                         halfwidth=3, split_lines=2, nbsp_lines=2)
        converter = converter_for(patent)
        check_alignment(converter)
        # Per edited element: its text in the PDF (before the first edit) and in the HTML.
        elements = {}
        for _, group, item, old, new in patent.edits:
            elements.setdefault((group, item), [old, new, 0])
            elements[(group, item)][1:] = [new, elements[(group, item)][2] + 1]
        for (group, _), (original, edited, count) in elements.items():
            section = ["cn-bibliographic-info", "cn-bibliographic-info", "claims", "description",
                       "description"][group]
            start = converter.htmldoc.infodict[section]["start"] + \
                converter.htmldoc.get_text(section).index(edited)
            record = converter.convert_mark_html2pdf({"start": start, "end": start + len(edited)})
            covered = pdf_text_of(converter, record).replace("\u00a0", "")
            assert covered in original and len(covered) >= len(original) - 2 * count


class TestRelationsInTheHtml:
    def test_mark_html_writes_pdf_line_classes(self, plain, capsys):
        converter = converter_for(plain)
        info = {}
        for element_id, record in converter.htmldoc.infodict.items():
            if re.fullmatch(r"cl\d+", element_id):
                lines = converter.convert_mark_html2pdf(
                    {"start": record["start"], "end": record["end"]})["pdflines"]
                info[element_id] = dict(record, relatelist=[line for line, _ in lines])
        info["f0001"] = dict(converter.htmldoc.infodict["f0001"], type="image")
        marked = converter.mark_html(info)
        soup = BeautifulSoup(marked, "lxml")
        for element_id, record in info.items():
            classes = soup.find(id=element_id).get("class")
            if element_id != "f0001":
                rel = record["relatelist"]
                expected = "pdf%d" % rel[0] if len(rel) == 1 else "pdf%d_%d" % (rel[0], rel[-1])
                assert classes == ["claim", expected]
        assert soup.find(id="f0001").get("class") is None
        assert soup.find(id="cl0001").get_text() == plain.html_texts["claims"][0]


class TestShippedSample:
    """The sample `make demo` marks: every kind of mark places and draws."""

    EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"

    def test_every_mark_of_the_sample_is_drawn(self, capsys):
        html = (self.EXAMPLES / "sample.html").read_text(encoding="utf-8")
        pdf = (self.EXAMPLES / "sample.pdf").read_bytes()
        marks = json.loads((self.EXAMPLES / "sample-marks.json").read_text(encoding="utf-8"))
        assert {m["type"] for m in marks} == {"par", "cth", "imgpar", "imgig", "flag", "equal"}
        converter = converter_for(patent=None, html=html, pdf=pdf)
        found = annotations(quorl.pdf_marker(converter, marks))
        pages = {m["title"]: {converter.pdfdoc.lines[line]["page"] for line, _ in m["pdflines"]}
                 for m in marks}
        assert any(len(p) == 2 for p in pages.values())
        assert {a[2] for a in found} >= {"Highlight", "SingleNUM", "Range", "Duplicate", "IGseq"}
        assert {"Claims"} <= {a[3] for a in found}
