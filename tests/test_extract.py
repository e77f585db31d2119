"""Reading annotations back: quorl's own marks after pdf_marker, annotations made the way PDF
readers make them, notes, a PDF of another publication, the quorl-extract command and its W3C
form, and the checks of the module helpers it uses."""
import contextlib
import io
import json
import math

import pymupdf
import pytest

import patents
import quorl
import roundtrip
from quorl_mark import pdf_annotations_to_marks
from quorl_mark.commands import extract as extract_cli
from quorl_mark.errors import JobError
from quorl_mark.inputs import check_mark
from quorl_mark.extract.pdf_text import Alignment

PATENTS = {
    # Line quirks: no-break spaces, lines written in two pieces, mixed font sizes; a sequence
    # listing. The HTML and the PDF texts agree everywhere.
    "quirks": dict(claims=6, paragraphs=24, sequences=1, nbsp_lines=5, split_lines=4,
                   mixed_size_lines=4),
    # HTML edited against the PDF, so some marks cross differing text.
    "edited": dict(claims=5, paragraphs=24, substitutions=8, insertions=5, deletions=5,
                   halfwidth=3),
}


def quietly(function, *args):
    with contextlib.redirect_stdout(io.StringIO()):
        return function(*args)


@pytest.fixture(scope="module", params=sorted(PATENTS))
def patent(request):
    return patents.generate_patent(41, **PATENTS[request.param])


@pytest.fixture(scope="module")
def plain():
    return patents.generate_patent(42, claims=5, paragraphs=20, nbsp_lines=3)


@pytest.fixture(scope="module")
def plain_converter(plain):
    """A converter of ``plain``; reading annotations back leaves it as it is."""
    return converter_of(plain)


def converter_of(patent, pdf=None):
    return quietly(quorl.get_patent_converter, patent.html, patent.pdf if pdf is None else pdf)


def marked_pdf(patent, marks):
    return quietly(quorl.pdf_marker, converter_of(patent), [dict(m) for m in marks])


def pdf_text_of(converter, mark):
    """The PDF text a mark covers, by the converter's own conversion to PDF lines."""
    lines = converter.pdfdoc.get_text().split("\n")
    pdflines = converter.convert_mark_html2pdf(dict(mark))["pdflines"]
    return "".join(lines[line][a:b] for line, (a, b) in pdflines)


def oracle_span(converter, pdf_start, pdf_end):
    """The HTML span of a stretch of the PDF text, by the module's own span conversion over the
    alignment turned round."""
    reversed_pairs = sorted((b, a) for a, b in converter.difflist)
    return tuple(quorl.convert_span_a2b((pdf_start, pdf_end), reversed_pairs)[1])


class TestRoundTrip:
    def test_every_mark_comes_back_as_it_was_drawn(self, patent):
        converter = converter_of(patent)
        marks = quietly(roundtrip.spread_marks, converter, 72, 41)
        assert roundtrip.page_break_spans(converter, 1), "no mark runs across a page break"
        records = pdf_annotations_to_marks(converter, marked_pdf(patent, marks))

        assert len(records) == len(marks)
        assert {r["source"] for r in records} == {"quorl"}
        crossing = 0
        for mark in marks:
            if roundtrip.agrees(converter.difflist, mark["start"], mark["end"]):
                record = roundtrip.find_record(records, mark)
                assert record is not None, mark
                if mark["type"] == "flag":  # the record holds the flag's whole line
                    continue
                pdf_text = pdf_text_of(converter, mark)
                assert record["pdf_text"] == pdf_text
                assert record["html_text"] == converter.htmldoc.text[mark["start"]:mark["end"]]
                assert record["exact"] == (pdf_text == record["html_text"])
                continue
            if mark["type"] == "flag":
                continue
            crossing += 1
            wanted = roundtrip.expected_fields(mark)
            record = next(r for r in records if all(r[k] == v for k, v in wanted.items()))
            assert record["start"] <= mark["start"] and record["end"] >= mark["end"]
            assert not record["exact"]
        assert crossing or not patent.edits

    def test_records_are_marks_that_draw_the_same_annotations_again(self, plain,
                                                                    plain_converter):
        converter = plain_converter
        marks = quietly(roundtrip.spread_marks, converter, 30, 42)
        first = pdf_annotations_to_marks(converter, marked_pdf(plain, marks))
        for index, record in enumerate(first):
            check_mark(index, record, "MARKS.json")
        again = pdf_annotations_to_marks(converter, marked_pdf(plain, first))
        keys = ("start", "end", "type", "title", "content", "info")
        assert [[r.get(k) for k in keys] for r in again] == [[r.get(k) for k in keys]
                                                           for r in first]


def pick_lines(converter, kind, count=1, length=6):
    """The page and ``count`` consecutive text lines of one page of the kind, each with at
    least ``length`` shown characters: (line index, shown text, PDF offset of its start)."""
    pdfdoc = converter.pdfdoc
    shown = pdfdoc.get_text().split("\n")
    starts = [0]
    for line in shown:
        starts.append(starts[-1] + len(line))
    kind_pages = set(pdfdoc.parsedict[kind]["pages"])
    usable = {i for i, line in enumerate(pdfdoc.lines)
              if line["page"] in kind_pages and len(shown[i]) >= length
              and "#imagefile#" not in shown[i]}
    for i in sorted(usable):
        run = range(i, i + count)
        if all(j in usable and pdfdoc.lines[j]["page"] == pdfdoc.lines[i]["page"] for j in run):
            return pdfdoc.lines[i]["page"], [(j, shown[j], starts[j]) for j in run]
    raise AssertionError("no %d lines of %s" % (count, kind))


def quads_of(page, text, near_y):
    """The quads PyMuPDF's search gives for ``text`` on the line at ``near_y``."""
    hits = [q for q in page.search_for(text, quads=True) if abs(q.rect.y0 - near_y) < 4]
    assert hits, text
    return hits[:1]


def annotate(pdf_bytes, page_number, add):
    doc = pymupdf.open("pdf", pdf_bytes)
    page = doc[page_number]
    add(doc, page)
    data = doc.tobytes()
    doc.close()
    return data


ONE_LINE_CASES = ["one line", "drawn larger", "drawn smaller"]
TWO_LINE_CASES = ["two lines in one stretch", "two separate stretches"]
# Drawings pages hold one caption line under each figure.
READER_CASES = [(kind, case) for kind in ("abstract", "claims", "descriptions", "drawings")
                for case in ONE_LINE_CASES + (TWO_LINE_CASES if kind != "drawings" else [])]


class TestReaderAnnotations:
    @pytest.mark.parametrize("kind, case", READER_CASES)
    def test_text_markup_on_pages_of_every_kind(self, plain, plain_converter, kind, case):
        converter = plain_converter
        count = 1 if case in ONE_LINE_CASES else 2
        page_number, lines = pick_lines(converter, kind, count, 2 if kind == "drawings" else 8)
        # (line, text, PDF offset) of each marked piece: the tail of one line and the head of
        # the next join into one stretch; two pieces from the middle of lines do not.
        if count == 1:
            index, text, start = lines[0]
            cut = 1 if len(text) > 5 else 0
            pieces = [(index, text[cut:cut + 4], start + cut)]
        elif case == "two lines in one stretch":
            (a, a_text, a_start), (b, b_text, b_start) = lines
            pieces = [(a, a_text[-4:], a_start + len(a_text) - 4), (b, b_text[:4], b_start)]
        else:
            (a, a_text, a_start), (b, b_text, b_start) = lines
            pieces = [(a, a_text[1:5], a_start + 1), (b, b_text[2:6], b_start + 2)]
        # Less than half the narrowest glyph ("." of Helvetica at 10.5 points is 2.9 wide).
        grow = {"drawn larger": 1.4, "drawn smaller": -1.4}.get(case, 0)

        def add(doc, page):
            quads = []
            for index, text, _ in pieces:
                for quad in quads_of(page, text, converter.pdfdoc.lines[index]["bbox"][1]):
                    quads.append((quad.rect + (-grow, -grow, grow, grow)).quad)
            annot = page.add_underline_annot(quads) if count == 2 else \
                page.add_highlight_annot(quads)
            annot.set_info(content="checked", title="reviewer")
            annot.update()

        records = pdf_annotations_to_marks(converter, annotate(plain.pdf, page_number, add))
        stretches = [(s, s + len(t)) for _, t, s in pieces]
        if case == "two lines in one stretch":
            stretches = [(stretches[0][0], stretches[1][1])]
        assert [(r["start"], r["end"]) for r in records] == \
            [oracle_span(converter, *s) for s in stretches]
        for record, (start, end) in zip(records, stretches):
            assert record["type"] == "cth" and record["source"] == "reader"
            assert (record["content"], record["author"], record["page"]) == \
                ("checked", "reviewer", page_number)
            assert record["pdf_text"] == converter.pdfdoc.get_text().replace("\n", "")[start:end]
            assert record["exact"] and record["html_text"] == record["pdf_text"]

    def test_notes_stand_by_the_nearest_line_and_the_rest_say_why(self, plain,
                                                                  plain_converter):
        converter = plain_converter
        page_number, [(index, text, start)] = pick_lines(converter, "descriptions", 1, 10)
        x0, top, x1, bottom = converter.pdfdoc.lines[index]["bbox"]

        def add(doc, page):
            page.add_text_annot((x1 + 20, (top + bottom) / 2), "see claim 2")
            page.add_rect_annot(pymupdf.Rect(x0, top, x1, bottom))
            page.add_highlight_annot(pymupdf.Rect(x0, 20, x1, 30))  # the empty top margin

        records = pdf_annotations_to_marks(converter, annotate(plain.pdf, page_number, add))
        by_kind = {r["annotation"]: r for r in records}
        note = by_kind["Text"]
        assert note["note"] and note["content"] == "see claim 2" and note["type"] == "cth"
        assert (note["start"], note["end"]) == oracle_span(converter, start, start + len(text))
        for kind in ("Square", "Highlight"):
            assert by_kind[kind]["start"] is None and by_kind[kind]["end"] is None
            assert by_kind[kind]["reason"]
        assert "covers no text" in by_kind["Highlight"]["reason"]

    def test_a_highlight_over_a_figure_has_no_counterpart(self, plain, plain_converter):
        converter = plain_converter
        figure = next(l for l in converter.pdfdoc.lines if l["text"] == "#imagefile#")
        data = annotate(plain.pdf, figure["page"],
                        lambda doc, page: page.add_highlight_annot(pymupdf.Rect(figure["bbox"])))
        [record] = pdf_annotations_to_marks(converter, data)
        assert record["start"] is None and "counterpart" in record["reason"]
        assert record["pdf_text"] == "#imagefile#"


class TestOtherPublication:
    @pytest.mark.parametrize("seed, paragraphs, message", [
        (42, 60, "it has \\d+ pages"),  # the same patent grown longer
        (43, 20, "page 1 shows other text"),  # another patent of as many pages
    ])
    def test_refused_with_a_clear_error(self, plain_converter, seed, paragraphs, message):
        foreign = patents.generate_patent(seed, claims=5, paragraphs=paragraphs, nbsp_lines=3)
        converter = plain_converter
        same_count = pymupdf.open("pdf", foreign.pdf).page_count == \
            converter.pdfdoc.doc.page_count
        assert same_count == (seed != 42)
        with pytest.raises(JobError, match="not the publication the converter was built from: "
                                           + message):
            pdf_annotations_to_marks(converter, foreign.pdf)

    def test_bytes_that_are_no_pdf(self, plain_converter):
        converter = plain_converter
        with pytest.raises(JobError, match="not a PDF"):
            pdf_annotations_to_marks(converter, b"%PDF-1.7 truncated")
        with pytest.raises(TypeError, match="bytes"):
            pdf_annotations_to_marks(converter, "a path")


@pytest.fixture(scope="module")
def files(tmp_path_factory, plain):
    """The HTML of ``plain`` and its PDF marked with 12 marks, in a folder."""
    folder = tmp_path_factory.mktemp("extract")
    converter = converter_of(plain)
    marks = quietly(roundtrip.spread_marks, converter, 12, 43)
    (folder / "p.html").write_text(plain.html, encoding="utf-8")
    (folder / "marked.pdf").write_bytes(marked_pdf(plain, marks))
    return folder, converter, marks


class TestCommand:
    def test_records_as_the_function_gives_them(self, files, capsys):
        folder, converter, _ = files
        out = folder / "marks.json"
        assert extract_cli.main([str(folder / "p.html"), str(folder / "marked.pdf"),
                                 "-o", str(out)]) == 0
        expected = pdf_annotations_to_marks(converter, (folder / "marked.pdf").read_bytes())
        assert json.loads(out.read_text(encoding="utf-8")) == expected
        assert "12 records (12 from quorl's marks" in capsys.readouterr().out

    def test_w3c_selectors_name_the_html_text(self, files):
        folder, converter, marks = files
        out = folder / "w3c.json"
        assert extract_cli.main([str(folder / "p.html"), str(folder / "marked.pdf"),
                                 "-o", str(out), "--format", "w3c", "-q"]) == 0
        collection = json.loads(out.read_text(encoding="utf-8"))
        assert collection["type"] == "AnnotationCollection"
        items = collection["first"]["items"]
        assert len(items) == collection["total"] == len(marks)
        text = converter.htmldoc.text
        for item in items:
            assert item["target"]["source"] == (folder / "p.html").resolve().as_uri()
            span = item["target"]["quorl:span"]
            start, end = span["start"], span["end"]
            # the position and the quote count the page's body text, which has newlines
            position, quote = item["target"]["selector"]
            assert quote["exact"].replace("\n", "") == text[start:end]
            assert position["end"] - position["start"] == len(quote["exact"])
            assert len(quote["prefix"]) == len(quote["suffix"]) == 32

    @pytest.mark.parametrize("pdf, message", [("other.pdf", "do not belong to the same "
                                                           "publication"),
                                              ("p.html", "an HTML page, given where")])
    def test_failures_are_one_line_and_write_nothing(self, files, capsys, pdf, message):
        folder, _, _ = files
        (folder / "other.pdf").write_bytes(patents.generate_patent(43, claims=5, paragraphs=20,
                                                                   nbsp_lines=3).pdf)
        assert extract_cli.main([str(folder / "p.html"), str(folder / pdf),
                                 "-o", str(folder / "x.json")]) == 1
        err = capsys.readouterr().err
        assert err.startswith("quorl-extract: error: ") and message in err
        assert len(err.splitlines()) == 1 and not (folder / "x.json").exists()


class TestAlignmentBack:
    # HTML 0-5 and 8-12 align with PDF 0-5 and 6-10: HTML 5-8 and PDF 5-6 differ.
    PAIRS = [((0, 5), (0, 5)), ((8, 12), (6, 10))]

    @pytest.mark.parametrize("pdf_stretch, html_span", [
        ((1, 3), (1, 3)),
        ((3, 8), (3, 10)),  # across the differing stretch: the span covers it
        ((5, 8), (5, 10)),  # from inside it: the span starts where the HTML's begins
        ((2, 6), (2, 8)),  # into it: the span ends where the HTML's ends
        ((5, 6), None),  # only text the HTML does not have
        ((10, 12), None),
    ])
    def test_pdf_stretches_to_html_spans(self, pdf_stretch, html_span):
        assert Alignment(self.PAIRS).html_span(*pdf_stretch) == html_span

    def test_before_the_first_aligned_stretch(self):
        assert Alignment([((3, 6), (2, 5))]).html_span(0, 4) == (3, 5)


LINE = {"text": "ab", "chars": [{"bbox": (0.0, 0.0, 5.0, 10.0)}, {"bbox": (5.0, 0.0, 10.0, 10.0)}]}
QUAD = ((0, 0), (10, 0), (0, 10), (10, 10))


class TestHelperChecks:
    def test_offsets_and_the_fallback_point(self):
        half = ((6, 0), (10, 0), (6, 10), (10, 10))  # holds the centre of "b" only
        far = ((20, 0), (30, 0), (20, 10), (30, 10))
        assert quorl._text_under_quads([LINE], [7], [[QUAD], [half], [far], [far]],
                                       [None, None, None, (2.0, 5.0)], "\xa0") == \
            [[(7, 9)], [(8, 9)], [], [(7, 8)]]

    @pytest.mark.parametrize("arguments, error", [
        (("x", [0], [], [], ""), TypeError),
        (([{"text": "ab"}], [0], [], [], ""), TypeError),
        (([dict(LINE, text="abc")], [0], [], [], ""), ValueError),
        (([{"text": "a", "chars": [{"bbox": (0, 0, math.nan, 1)}]}], [0], [], [], ""),
         ValueError),
        (([LINE], [-1], [], [], ""), ValueError),
        (([LINE], [2 ** 63], [], [], ""), OverflowError),
        (([LINE], [0, 1], [], [], ""), ValueError),
        (([LINE], [0], [[QUAD[:3]]], [None], ""), ValueError),
        (([LINE], [0], [[QUAD]], [], ""), ValueError),
    ])
    def test_text_under_quads_refuses_malformed_input(self, arguments, error):
        with pytest.raises(error):
            quorl._text_under_quads(*arguments)

    def test_glyphs_not_on_page_reads_the_raw_dict(self):
        page = {"blocks": [{"type": 0, "lines": [{"spans": [{"chars": [
            {"c": "a", "bbox": (0.2, 0.0, 5.0, 10.0)}]}]}]},
            {"type": 1, "bbox": (5.0, 0.0, 10.0, 10.0)}]}
        assert quorl._glyphs_not_on_page([LINE], page, 0.5) == 0  # "b" lies on the image
        assert quorl._glyphs_not_on_page([LINE], page, 0.1) == 1
        with pytest.raises(TypeError):
            quorl._glyphs_not_on_page([LINE], {"blocks": [{"type": 0}]}, 0.5)
