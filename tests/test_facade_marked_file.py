"""PdfDocument.make_mark and get_marked_file on generated patents, read back with PyMuPDF."""
import pymupdf
import pytest

import patents
import quorl

MARKERS = {"par": "PARMarker", "cth": "CTHMarker", "imgpar": "ImgPARMarker",
           "imgig": "ImgIGMarker", "flag": "FlagMarker"}


@pytest.fixture(scope="module")
def patent():
    return patents.generate_patent(3)


def markerdict():
    return {kind: getattr(quorl, name) for kind, name in MARKERS.items()}


def open_pdf(patent, markers=None):
    return quorl.PdfDocument(pymupdf.open("pdf", patent.pdf),
                             markerdict=markerdict() if markers is None else markers)


def annotations(data):
    doc = pymupdf.open("pdf", data)
    out = []
    for page in doc:
        for annot in page.annots():
            # A highlight's rect is padded for its appearance; its quad is the marked area.
            area = annot.rect
            if annot.type[1] == "Highlight":
                area = pymupdf.Rect(annot.vertices[0], annot.vertices[-1])
            out.append((page.number, annot.type[1], annot.info["subject"], annot.info["content"],
                        tuple(round(v, 3) for v in area)))
    doc.close()
    return out


def chars_box(line, start, end):
    box = pymupdf.Rect(line["chars"][start]["bbox"])
    for ch in line["chars"][start + 1:end]:
        box |= pymupdf.Rect(ch["bbox"])
    return box


def body_line(pdfdoc, min_length=12):
    """Index of a claims line long enough to mark inside, without no-break spaces."""
    start = len(pdfdoc.get_lines(["abstract"]))
    for idx in range(start, len(pdfdoc.lines)):
        text = pdfdoc.lines[idx]["text"]
        if len(text) >= min_length and "\u00a0" not in text:
            return idx
    raise AssertionError("no usable line")


class Recorder:
    """A marker class that records what it is built with and draws nothing."""

    made = []

    def __init__(self, title, content, position, info="unset"):
        self.args = (title, content, position, info)
        Recorder.made.append(self)

    def addmarker(self, doc):
        self.drawn_on = doc


@pytest.fixture
def recorder():
    Recorder.made = []
    return Recorder


class TestMakeMark:
    def test_prints_then_builds_the_marker_from_the_positions(self, patent, recorder, capsys):
        pdfdoc = open_pdf(patent, {"par": recorder})
        line = body_line(pdfdoc)
        mark = {"type": "equal", "pdflines": [(line, [2, 5])], "title": 7, "content": "c"}
        assert pdfdoc.make_mark(mark) is None
        assert capsys.readouterr().out == repr(("markinfo:", mark)) + "\n"
        (marker,) = recorder.made
        title, content, position, info = marker.args
        assert (title, content, info) == (7, "c", "")
        assert marker.drawn_on is pdfdoc.doc
        (page, rect), = position
        assert page == pdfdoc.lines[line]["page"]
        assert rect == chars_box(pdfdoc.lines[line], 2, 5)

    def test_only_the_first_and_last_pairs_are_read(self, patent, recorder, capsys):
        pdfdoc = open_pdf(patent, {"cth": recorder})
        line = body_line(pdfdoc)
        mark = {"type": "cth", "title": "t", "content": "c", "info": "EQUAL",
                "pdflines": [(line, [1, 99]), "never read", (line + 2, [0, 3])]}
        pdfdoc.make_mark(mark)
        (marker,) = recorder.made
        assert marker.args[3] == "EQUAL"
        assert marker.args[2] == pdfdoc.getcontentposition((line, 1), (line + 2, 3))
        assert [p for p, _ in marker.args[2]] == [pdfdoc.lines[line + k]["page"] for k in range(3)]

    @pytest.mark.parametrize("missing", ["type", "pdflines", "title", "content"])
    def test_missing_key(self, patent, recorder, capsys, missing):
        pdfdoc = open_pdf(patent, {"par": recorder})
        mark = {"type": "par", "pdflines": [(body_line(pdfdoc), [0, 2])], "title": "1",
                "content": "x"}
        del mark[missing]
        with pytest.raises(KeyError):
            pdfdoc.make_mark(mark)
        assert capsys.readouterr().out.startswith("('markinfo:'")
        assert recorder.made == []

    def test_empty_pdflines(self, patent, capsys):
        pdfdoc = open_pdf(patent)
        with pytest.raises(IndexError, match="no pdflines"):
            pdfdoc.make_mark({"type": "par", "pdflines": [], "title": "1", "content": "x"})

    def test_unknown_kind_fails_after_the_positions(self, patent, capsys):
        calls = []

        class Spy(quorl.PdfDocument):
            def getcontentposition(self, pstart, pend, fix="\u00a0"):
                calls.append((pstart, pend))
                return super().getcontentposition(pstart, pend)

        pdfdoc = Spy(pymupdf.open("pdf", patent.pdf), markerdict=markerdict())
        line = body_line(pdfdoc)
        with pytest.raises(KeyError, match="circle"):
            pdfdoc.make_mark({"type": "circle", "pdflines": [(line, [0, 2])], "title": "1",
                              "content": "x"})
        assert calls == [((line, 0), (line, 2))]

    @pytest.mark.parametrize("bad", [None, 3, b"par"])
    def test_type_must_be_a_string(self, patent, capsys, bad):
        pdfdoc = open_pdf(patent)
        with pytest.raises(TypeError, match="mark type must be a str"):
            pdfdoc.make_mark({"type": bad, "pdflines": [(0, [0, 1])], "title": "1", "content": ""})

    @pytest.mark.parametrize("pdflines, error", [
        ([(10**6, [0, 1])], IndexError), ([(0,)], IndexError), ([(0, 5)], TypeError),
        (None, TypeError), ([("a", [0, 1])], TypeError)])
    def test_malformed_pdflines(self, patent, capsys, pdflines, error):
        pdfdoc = open_pdf(patent)
        with pytest.raises(error):
            pdfdoc.make_mark({"type": "par", "pdflines": pdflines, "title": "1", "content": ""})
        assert annotations(pdfdoc.doc.write()) == []

    def test_empty_character_selection_is_a_reduce_error(self, patent, capsys, caplog):
        pdfdoc = open_pdf(patent)
        line = body_line(pdfdoc)
        with pytest.raises(Exception, match="Reduce Error"):
            pdfdoc.make_mark({"type": "par", "pdflines": [(line, [4, 4])], "title": "1",
                              "content": ""})


class TestMarkedFile:
    def test_no_marks_gives_the_document_without_annotations(self, patent, capsys):
        pdfdoc = open_pdf(patent)
        data = pdfdoc.get_marked_file([])
        assert isinstance(data, bytes) and data.startswith(b"%PDF")
        assert annotations(data) == []
        doc = pymupdf.open("pdf", data)
        assert doc.page_count == pdfdoc.pagecount
        assert [p.get_text() for p in doc] == [p.get_text() for p in pdfdoc.doc]
        assert capsys.readouterr().out == ""

    def test_highlight_covers_the_selected_characters(self, patent, capsys):
        pdfdoc = open_pdf(patent)
        line = body_line(pdfdoc)
        record = pdfdoc.lines[line]
        data = pdfdoc.get_marked_file(
            [{"type": "cth", "pdflines": [(line, [2, 5])], "title": "1", "content": "abc"}])
        (annot,) = annotations(data)
        assert annot[:4] == (record["page"], "Highlight", "Highlight", "abc")
        expected = chars_box(record, 2, 5)
        assert all(abs(a - b) < 0.01 for a, b in zip(annot[4], expected))
        doc = pymupdf.open("pdf", data)
        # Characters only touching the box's sides are not inside it.
        inner = pymupdf.Rect(annot[4]) + (1, 1, -1, -1)
        assert doc[record["page"]].get_textbox(inner).strip() == record["text"][2:5]

    def test_equal_is_drawn_like_par(self, patent, capsys):
        line = body_line(open_pdf(patent))
        base = {"pdflines": [(line, [0, 6]), (line + 1, [0, 3])], "title": "4-5", "content": "x"}
        as_par = annotations(open_pdf(patent).get_marked_file([dict(base, type="par")]))
        as_equal = annotations(open_pdf(patent).get_marked_file([dict(base, type="equal")]))
        assert as_par == as_equal
        assert [a[2] for a in as_par] == ["Highlight", "Range", "Highlight"]

    def test_marks_are_drawn_in_order_and_the_document_stays_usable(self, patent, capsys):
        pdfdoc = open_pdf(patent)
        line = body_line(pdfdoc)
        marks = [{"type": "flag", "pdflines": [(line, [0, 2])], "title": "f", "content": "实施例"},
                 {"type": "par", "pdflines": [(line, [3, 6])], "title": "2", "content": "x",
                  "info": "EQUAL"}]
        data = pdfdoc.get_marked_file(marks)
        out = capsys.readouterr().out.splitlines()
        assert out == [repr(("markinfo:", m)) for m in marks]
        kinds = [(a[1], a[2], a[3]) for a in annotations(data)]
        assert ("FreeText", "", "Claims") in kinds and ("FreeText", "", "实施例") in kinds
        assert ("FreeText", "Duplicate", "=2") in kinds
        assert pdfdoc.doc.page_count == pdfdoc.pagecount
        assert annotations(pdfdoc.get_marked_file([])) == annotations(data)

    def test_marking_twice_doubles_the_annotations(self, patent, capsys):
        pdfdoc = open_pdf(patent)
        line = body_line(pdfdoc)
        marks = [{"type": "par", "pdflines": [(line, [0, 4])], "title": "1", "content": "x"},
                 {"type": "imgig", "pdflines": [(line, [5, 8])], "title": "2", "content": "y"}]
        once = annotations(pdfdoc.get_marked_file(marks))
        twice = annotations(pdfdoc.get_marked_file(marks))
        assert len(once) == 3 and sorted(twice) == sorted(once + once)

    def test_first_failure_keeps_earlier_annotations(self, patent, capsys):
        pdfdoc = open_pdf(patent)
        line = body_line(pdfdoc)
        good = {"type": "cth", "pdflines": [(line, [0, 4])], "title": "1", "content": "x"}
        bad = {"type": "nope", "pdflines": [(line, [0, 4])], "title": "1", "content": "x"}
        never = {"type": "cth", "pdflines": [(line, [5, 8])], "title": "1", "content": "z"}
        with pytest.raises(KeyError):
            pdfdoc.get_marked_file([good, bad, never])
        assert len(capsys.readouterr().out.splitlines()) == 2
        assert [a[3] for a in annotations(pdfdoc.doc.write())] == ["x"]

    def test_overridden_make_mark_is_used(self, patent, capsys):
        seen = []

        class Counting(quorl.PdfDocument):
            def make_mark(self, mark):
                seen.append(mark)

        pdfdoc = Counting(pymupdf.open("pdf", patent.pdf))
        assert annotations(pdfdoc.get_marked_file(iter([1, 2]))) == []
        assert seen == [1, 2]
