"""The annotation primitives, read back from the PDF they write."""
from types import SimpleNamespace

import pymupdf
import pytest

import quorl

RED, BLACK, WHITE = (1, 0, 0), (0, 0, 0), (1, 1, 1)
HINFO = {"subject": "Highlight", "title": "vexil", "content": "marked text"}


def new_doc(pages=2):
    doc = pymupdf.open()
    for _ in range(pages):
        doc.new_page()
    return doc


def written(doc):
    """The document as written to bytes and opened again."""
    return pymupdf.open("pdf", doc.tobytes())


def annotations(doc, page=0):
    """What the page's annotations hold, read while the page is alive (annotations need it)."""
    page = doc[page]
    return [
        SimpleNamespace(type=a.type, rect=a.rect, info=a.info, colors=a.colors, xref=a.xref)
        for a in page.annots()
    ]


def appearance(doc, annot):
    """Text colour, font name and font size of a free-text annotation's default appearance."""
    kind, da = doc.xref_get_key(annot.xref, "DA")
    assert kind == "string"
    tokens = da.split()
    colour = tuple(float(t) for t in tokens[: tokens.index("rg")])
    font = tokens[tokens.index("Tf") - 2]
    return colour, font, float(tokens[tokens.index("Tf") - 1])


def fill(doc, annot):
    kind, value = doc.xref_get_key(annot.xref, "C")
    assert kind == "array"
    return tuple(float(v) for v in value.strip("[]").split())


def quadding(doc, annot):
    return doc.xref_get_key(annot.xref, "Q")


def assert_rect(actual, expected):
    assert tuple(actual) == pytest.approx(tuple(expected), abs=1e-3)


class TestHighlight:
    def test_records_info_over_the_area_in_the_default_colour(self):
        doc = new_doc()
        area = pymupdf.Rect(100, 200, 300, 212)
        assert quorl._add_highlight_mark(doc[0], area, HINFO) is None
        # PyMuPDF's own highlight over the same area is the oracle for colour and rectangle.
        page = doc[1]
        page.add_highlight_annot(area).update()
        out = written(doc)
        (annot,) = annotations(out, 0)
        (oracle,) = annotations(out, 1)
        assert annot.type == (pymupdf.PDF_ANNOT_HIGHLIGHT, "Highlight")
        assert annot.info["subject"] == "Highlight"
        assert annot.info["title"] == "vexil"
        assert annot.info["content"] == "marked text"
        assert annot.colors == oracle.colors
        assert annot.colors["stroke"]
        assert_rect(annot.rect, oracle.rect)
        assert area in annot.rect

    @pytest.mark.parametrize("form", [list, tuple, pymupdf.Rect])
    def test_area_as_list_tuple_or_rect(self, form):
        doc = new_doc()
        quorl._add_highlight_mark(doc[0], form([100, 200, 300, 212]), HINFO)
        quorl._add_highlight_mark(doc[1], pymupdf.Rect(100, 200, 300, 212), HINFO)
        out = written(doc)
        assert_rect(annotations(out, 0)[0].rect, annotations(out, 1)[0].rect)

    def test_one_info_dict_serves_several_highlights(self):
        doc = new_doc()
        hinfo = dict(HINFO)
        quorl._add_highlight_mark(doc[0], (100, 200, 300, 212), hinfo)
        quorl._add_highlight_mark(doc[0], (100, 220, 300, 232), hinfo)
        hinfo["content"] = "changed afterwards"
        out = written(doc)
        assert [a.info["content"] for a in annotations(out)] == ["marked text"] * 2
        assert hinfo == {**HINFO, "content": "changed afterwards"}

    def test_keyword_arguments(self):
        doc = new_doc()
        quorl._add_highlight_mark(hinfo=HINFO, rectlist=(10, 10, 50, 20), page=doc[0])
        assert len(annotations(written(doc))) == 1

    def test_library_errors_propagate(self):
        doc = new_doc()
        with pytest.raises(AttributeError):
            quorl._add_highlight_mark(None, (10, 10, 50, 20), HINFO)
        with pytest.raises(ValueError):
            quorl._add_highlight_mark(doc[0], (10, 10, 50), HINFO)


class TestNumberMark:
    def test_defaults_are_red_nine_point_centred_on_white(self):
        doc = new_doc()
        ninfo = {"subject": "SingleNUM", "title": "vexil", "content": "12"}
        assert quorl._add_num_mark(doc[0], [193, 392, 207, 400], ninfo) is None
        out = written(doc)
        (annot,) = annotations(out)
        assert annot.type == (pymupdf.PDF_ANNOT_FREE_TEXT, "FreeText")
        assert_rect(annot.rect, (193, 392, 207, 400))
        assert appearance(out, annot) == (RED, "/Helv", 9)
        assert fill(out, annot) == WHITE
        assert quadding(out, annot) == ("int", "1")
        assert (annot.info["subject"], annot.info["title"], annot.info["content"]) == (
            "SingleNUM",
            "vexil",
            "12",
        )
        # A Latin label keeps the library's default font and no language of its own.
        assert out.xref_get_key(annot.xref, "Lang") == ("null", "null")

    def test_size_and_colours_by_keyword(self):
        doc = new_doc()
        ninfo = {"subject": "IGseq", "title": "vexil", "content": "A1"}
        quorl._add_num_mark(
            page=doc[0],
            rect=(100, 100, 160, 115),
            ninfo=ninfo,
            tsize=14,
            tcolor=(0.5, 0, 0.5),
            fcolor=(0, 1, 0),
        )
        out = written(doc)
        (annot,) = annotations(out)
        assert appearance(out, annot) == ((0.5, 0, 0.5), "/Helv", 14)
        assert fill(out, annot) == (0, 1, 0)

    @pytest.mark.parametrize("form", [list, tuple, pymupdf.Rect])
    def test_rect_as_list_tuple_or_rect(self, form):
        doc = new_doc()
        ninfo = {"subject": "Range", "title": "vexil", "content": "3-4"}
        quorl._add_num_mark(doc[0], form([100.5, 50, 130.25, 58]), ninfo)
        out = written(doc)
        (annot,) = annotations(out)
        assert_rect(annot.rect, (100.5, 50, 130.25, 58))
        assert annot.info["content"] == "3-4"

    def test_missing_content_fails_before_drawing(self):
        doc = new_doc()
        with pytest.raises(KeyError):
            quorl._add_num_mark(doc[0], (10, 10, 50, 20), {"subject": "SingleNUM"})
        assert annotations(written(doc)) == []

    @pytest.mark.parametrize("content", [None, 12, b"12", ["1"]])
    @pytest.mark.parametrize("draw", [quorl._add_num_mark, quorl._add_flag_mark])
    def test_label_text_must_be_a_string(self, draw, content):
        doc = new_doc()
        with pytest.raises(TypeError, match=r"ninfo\['content'\] must be str"):
            draw(doc[0], (10, 10, 50, 20), {"subject": "SingleNUM", "content": content})
        # Nothing half-made is left on the page.
        assert annotations(written(doc)) == []

    def test_a_page_of_a_closed_document_is_an_error(self):
        doc = new_doc()
        page = doc[0]
        doc.close()
        for draw in (quorl._add_num_mark, quorl._add_flag_mark, quorl._add_highlight_mark):
            # PyMuPDF's own error for an orphaned page (its type varies between releases).
            with pytest.raises((AttributeError, ValueError, RuntimeError)):
                draw(page, (10, 10, 50, 20), {"content": "1"})

    def test_info_mapping_is_read_not_changed(self):
        doc = new_doc()
        ninfo = {"subject": "Duplicate", "title": "vexil", "content": "=5"}
        quorl._add_num_mark(doc[0], (10, 10, 50, 20), ninfo)
        assert ninfo == {"subject": "Duplicate", "title": "vexil", "content": "=5"}


class TestFlagMark:
    def test_defaults_are_black_ten_point_centred_on_white(self):
        doc = new_doc()
        ninfo = {"subject": "Flag", "title": "vexil", "content": "Claims"}
        assert quorl._add_flag_mark(doc[1], (500, 30, 560, 45), ninfo) is None
        out = written(doc)
        (annot,) = annotations(out, 1)
        assert annot.type == (pymupdf.PDF_ANNOT_FREE_TEXT, "FreeText")
        assert_rect(annot.rect, (500, 30, 560, 45))
        assert appearance(out, annot) == (BLACK, "/Helv", 10)
        assert fill(out, annot) == WHITE
        assert quadding(out, annot) == ("int", "1")
        assert annot.info["content"] == "Claims"

    def test_subject_and_title_are_not_recorded(self):
        doc = new_doc()
        ninfo = {"subject": "Flag", "title": "vexil", "content": "Claims"}
        quorl._add_flag_mark(doc[0], (500, 30, 560, 45), ninfo, fcolor=(1, 0.4, 0.4))
        out = written(doc)
        (annot,) = annotations(out)
        assert annot.info["subject"] == ""
        assert annot.info["title"] == ""
        assert out.xref_get_key(annot.xref, "Subj") == ("null", "null")
        assert out.xref_get_key(annot.xref, "T") == ("null", "null")
        assert fill(out, annot) == (1, 0.4, 0.4)

    @pytest.mark.parametrize("form", [list, tuple, pymupdf.Rect])
    def test_rect_as_list_tuple_or_rect(self, form):
        doc = new_doc()
        quorl._add_flag_mark(doc[0], form([500, 100, 560, 115]), {"content": "Examples"})
        out = written(doc)
        (annot,) = annotations(out)
        assert_rect(annot.rect, (500, 100, 560, 115))
        assert annot.info["content"] == "Examples"

    def test_missing_content_fails_before_drawing(self):
        doc = new_doc()
        with pytest.raises(KeyError):
            quorl._add_flag_mark(doc[0], (10, 10, 50, 20), {"subject": "Flag", "title": "vexil"})
        assert annotations(written(doc)) == []


class TestChineseLabels:
    """Labels with text beyond Latin-1 are drawn with a Simplified Chinese font."""

    @staticmethod
    def label_fonts(doc, annot):
        """The fonts named by the label's appearance stream, as (BaseFont, Ordering) pairs."""
        ap = doc.xref_get_key(annot.xref, "AP/N")[1]
        form = int(ap.split()[0])
        fonts = []
        kind, resources = doc.xref_get_key(form, "Resources/Font")
        assert kind == "dict"
        for ref in resources.strip("<>").split("/")[1:]:
            font = int(ref.split()[1])
            descendant = doc.xref_get_key(font, "DescendantFonts")[1]
            ordering = ("null", "null")
            if descendant != "null":
                child = int(descendant.strip("[]").split()[0])
                ordering = doc.xref_get_key(child, "CIDSystemInfo/Ordering")
            fonts.append((doc.xref_get_key(font, "BaseFont")[1], ordering[1]))
        return fonts

    @pytest.mark.parametrize(
        "draw",
        [
            lambda page, ninfo: quorl._add_num_mark(page, (100, 100, 200, 115), ninfo),
            lambda page, ninfo: quorl._add_flag_mark(page, (100, 100, 200, 115), ninfo),
        ],
        ids=["number", "flag"],
    )
    def test_chinese_text_uses_the_gb1_font(self, draw):
        doc = new_doc()
        draw(doc[0], {"subject": "IGseq", "title": "vexil", "content": "实施例 12"})
        out = written(doc)
        (annot,) = annotations(out)
        assert annot.info["content"] == "实施例 12"
        assert out.xref_get_key(annot.xref, "Lang") == ("string", "zh-Hans")
        fonts = self.label_fonts(out, annot)
        assert fonts and all(ordering == "GB1" for _, ordering in fonts), fonts

    def test_latin1_text_keeps_the_default_font(self):
        doc = new_doc()
        quorl._add_flag_mark(doc[0], (100, 100, 200, 115), {"content": "Café ±5"})
        out = written(doc)
        (annot,) = annotations(out)
        assert out.xref_get_key(annot.xref, "Lang") == ("null", "null")
        assert self.label_fonts(out, annot) == [("/Helvetica", "null")]

    def test_chinese_flag_still_records_no_subject(self):
        doc = new_doc()
        quorl._add_flag_mark(doc[0], (500, 30, 560, 45), {"subject": "Flag", "content": "实施例"})
        out = written(doc)
        (annot,) = annotations(out)
        assert annot.info["subject"] == ""
        assert appearance(out, annot) == (BLACK, "/Helv", 10)


def test_primitives_have_no_docstring():
    assert quorl._add_highlight_mark.__doc__ is None
    assert quorl._add_num_mark.__doc__ is None
    assert quorl._add_flag_mark.__doc__ is None
