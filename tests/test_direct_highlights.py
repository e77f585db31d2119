"""Highlights drawn in a drawing session through MuPDF's low-level calls: the very annotation
objects PyMuPDF's own add_highlight_annot, set_info and update make, and PyMuPDF's own calls
wherever that is not vouched for (a PyMuPDF that draws otherwise, replaced methods, other forms
of rectangle or info). The marked file is MuPDF's save, the bytes doc.write() returns."""
import collections
import re
import tempfile
import types

import pymupdf
import pytest

import quorl

INFOS = [{"subject": "Highlight", "title": "vexil", "content": "核对的文字 ünïcode"},
         {"subject": "s", "title": None, "content": ""},
         {"content": "只有内容"},
         {}]
RECT_FORMS = [pymupdf.Rect, tuple, lambda r: [int(v) for v in r]]


def without_id(pdf):
    return re.sub(rb"/ID\[.*?\]>>", b"/ID[]>>", pdf, flags=re.S)


def new_doc(setups):
    """A page per (rotation, cropbox) of A4 size."""
    doc = pymupdf.open()
    for rotation, cropbox in setups:
        page = doc.new_page(width=595, height=842)
        if cropbox:
            page.set_cropbox(pymupdf.Rect(cropbox))
        page.set_rotation(rotation)
    return doc


def highlights(pages, per_page=40):
    """(page, rect, info) overlapping on every page, in all the rectangle and info forms."""
    items = []
    for page in range(pages):
        for i in range(per_page):
            area = (60 + i % 7, 100 + (i * 13) % 500, 300 + i, 112 + (i * 13) % 500)
            items.append((page, RECT_FORMS[i % 3](area), INFOS[i % 4]))
    return items


def draw(doc, items, session, monkeypatch):
    """The items drawn by cth markers, whose pages come from the session when one is open; each
    highlight gets its item's info in place of the marker's."""
    primitive = quorl._add_highlight_mark
    infos = iter([info for _, _, info in items])
    monkeypatch.setattr(quorl, "_add_highlight_mark",
                        lambda page, rect, _: primitive(page, rect, next(infos)))
    markers = [quorl.CTHMarker("1", "x", [(page, rect)]) for page, rect, _ in items]

    def run():
        for marker in markers:
            marker.addmarker(doc)

    try:
        quorl._drawing_session(doc, run) if session else run()
    finally:
        monkeypatch.setattr(quorl, "_add_highlight_mark", primitive)
    return doc.write()


def annotation_objects(pdf):
    """Every annotation's dictionary and its appearance stream's bytes, page by page."""
    doc = pymupdf.open("pdf", pdf)
    objects = []
    for page in doc:
        for xref in [a.xref for a in page.annots()]:
            kind, ap = doc.xref_get_key(xref, "AP/N")
            assert kind == "xref"
            ap_xref = int(ap.split()[0])
            objects.append((doc.xref_object(xref), doc.xref_object(ap_xref),
                            doc.xref_stream_raw(ap_xref)))
    return objects


@pytest.fixture
def quad_calls(monkeypatch):
    """How many quads PyMuPDF's own highlight drawing read (the direct drawing reads none),
    counted after the once-a-process check, which draws both ways."""
    assert quorl._direct_highlights()
    calls = []
    library = pymupdf.JM_quad_from_py
    monkeypatch.setattr(pymupdf, "JM_quad_from_py", lambda r: calls.append(r) or library(r))
    return calls


@pytest.fixture
def checked_again(monkeypatch):
    """Checks again once the test's replacements are undone: the direct drawing is back."""
    yield
    monkeypatch.undo()
    assert quorl._direct_highlights(check_again=True)


SETUPS = [[(0, None)],
          [(90, None), (180, (20, 30, 500, 800)), (270, None)],
          [(0, (10, 20, 585, 832)), (90, (0, 40, 595, 842))]]


class TestSameObjects:
    @pytest.mark.parametrize("setups", SETUPS)
    def test_session_draws_what_pymupdf_draws(self, setups, monkeypatch, quad_calls):
        items = highlights(len(setups))
        direct = draw(new_doc(setups), items, True, monkeypatch)
        assert quad_calls == []
        library = draw(new_doc(setups), items, False, monkeypatch)
        assert len(quad_calls) == len(items)
        assert annotation_objects(direct) == annotation_objects(library)
        assert without_id(direct) == without_id(library)
        doc = pymupdf.open("pdf", direct)
        contents = [a.info["content"] for page in doc for a in page.annots()]
        assert contents == [info.get("content") or "" for _, _, info in items]

    @pytest.mark.parametrize("rect, info", [
        (pymupdf.Rect(60, 100, 300, 112).quad, INFOS[0]),  # a quad: PyMuPDF's own reading
        ((60, 100, 300, 112), collections.OrderedDict(INFOS[0])),
        ((60, 100, 300, 112), dict(INFOS[0], creationDate="D:20261210000000")),
        ((60.0, 100.0, 60.0, 112.0), INFOS[0]),  # empty: PyMuPDF refuses it
    ])
    def test_other_forms_are_drawn_by_pymupdf(self, rect, info, monkeypatch, quad_calls):
        items = [(0, (60, 200, 300, 212), INFOS[0]), (0, rect, info)]
        outcomes, reads = [], []
        for session in (True, False):
            try:
                outcomes.append(without_id(draw(new_doc(SETUPS[0]), items, session, monkeypatch)))
            except ValueError as e:
                outcomes.append(str(e))
            reads.append(len(quad_calls) - sum(reads))
        assert outcomes[0] == outcomes[1]
        # PyMuPDF's calls read one quad more than in the session: the first item's.
        assert reads[1] == reads[0] + 1


def shifted_quads(monkeypatch):
    library = pymupdf.JM_quad_from_py
    monkeypatch.setattr(pymupdf, "JM_quad_from_py",
                        lambda r: library(pymupdf.Quad(r).rect + (5, 0, 5, 0)))


def missing_function(monkeypatch):
    monkeypatch.delattr(pymupdf.mupdf._mupdf, "ll_pdf_dirty_annot")


def replaced_method(monkeypatch):
    library = pymupdf.Annot.set_info
    monkeypatch.setattr(pymupdf.Annot, "set_info",
                        lambda annot, info: library(annot, dict(info, content="replaced")))


class _ShiftingPage(pymupdf.Page):
    def add_highlight_annot(self, quads=None, **kwargs):
        return super().add_highlight_annot(pymupdf.Rect(quads) + (5, 0, 5, 0), **kwargs)


def own_page_class(monkeypatch):
    library = pymupdf.Document.__getitem__

    def page(doc, number):
        found = library(doc, number)
        found.__class__ = _ShiftingPage
        return found
    monkeypatch.setattr(pymupdf.Document, "__getitem__", page)


class TestPyMuPDFDraws:
    # A method replaced after the check is seen at each highlight; the check would see it too.
    @pytest.mark.parametrize("breaker, check_again", [
        (shifted_quads, True), (missing_function, True), (replaced_method, False),
        (own_page_class, False)])
    def test_when_its_drawing_is_not_vouched_for(self, breaker, check_again, monkeypatch,
                                                 checked_again):
        assert quorl._direct_highlights()
        breaker(monkeypatch)
        assert quorl._direct_highlights(check_again=check_again) is not check_again
        items = highlights(1, per_page=20)
        direct = draw(new_doc(SETUPS[0]), items, True, monkeypatch)
        library = draw(new_doc(SETUPS[0]), items, False, monkeypatch)
        assert without_id(direct) == without_id(library)
        page = pymupdf.open("pdf", direct)[0]
        annots = list(page.annots())
        if breaker in (shifted_quads, own_page_class):
            assert annots[0].vertices[0][0] == pytest.approx(items[0][1][0] + 5)
        if breaker is replaced_method:
            assert {a.info["content"] for a in annots} == {"replaced"}


class _OwnWrite(pymupdf.Document):
    def write(self, *args, **kwargs):
        return b"own write"


def broken_tempfile(monkeypatch):
    def refuse(*args, **kwargs):
        raise OSError(28, "No space left on device")
    monkeypatch.setattr(tempfile, "mkstemp", refuse)


class TestMarkedFile:
    @pytest.mark.parametrize("document, breaker", [
        (pymupdf.Document, None), (pymupdf.Document, broken_tempfile), (_OwnWrite, None)])
    def test_the_bytes_write_returns(self, document, breaker, monkeypatch):
        doc = document()
        doc.new_page()
        doc[0].add_highlight_annot(pymupdf.Rect(10, 10, 90, 20))
        if breaker:
            breaker(monkeypatch)
        owner = types.SimpleNamespace(doc=doc, make_mark=lambda mark: None)
        data = quorl.PdfDocument.get_marked_file(owner, [])
        assert without_id(data) == without_id(doc.write())
