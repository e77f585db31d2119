"""PdfDocument construction, page regions and page classification, on generated patents."""
import gc
import logging

import pymupdf
import pytest

import quorl
from patents import draw_separator, finish, generate_patent, write

KINDS = ["abstract", "claims", "descriptions", "seqs", "drawings"]


def build(patent, **kwargs):
    return quorl.PdfDocument(pymupdf.open("pdf", patent.pdf), **kwargs)


def expected_pages(patent):
    """Page indexes per kind as the header titles classify them."""
    pages = {kind: [] for kind in KINDS}
    pages["abstract"].append(0)
    for number, header in enumerate(patent.headers):
        title = header.replace(" ", "").replace("\u3000", "").replace("\u00a0", "")
        for word, kind in (("附图", "drawings"), ("序列表", "descriptions"),
                           ("说明书", "descriptions"), ("权利要求书", "claims")):
            if word in title:
                pages[kind].append(number)
                break
    return pages


@pytest.fixture(scope="module")
def patent():
    return generate_patent(11, sequences=1, split_lines=2, nbsp_lines=2, mixed_size_lines=2)


@pytest.fixture(scope="module")
def document(patent):
    return build(patent)


class TestAttributes:
    def test_attributes_are_set_in_order(self, document):
        assert list(vars(document)) == [
            "doc", "pagecount", "separatemargin", "pageinfomargin", "pagetypemargin",
            "docmargin", "parsedict", "lines", "contents", "text", "lineindex", "markerdict"]

    def test_document_and_page_count(self, patent):
        doc = pymupdf.open("pdf", patent.pdf)
        document = quorl.PdfDocument(doc)
        assert document.doc is doc
        assert document.pagecount == doc.page_count == len(patent.page_kinds)
        assert type(document).__module__ == "quorl" and type(type(document)) is type

    def test_regions_follow_the_separator(self, patent, document):
        x0, y, x1 = patent.separator
        assert isinstance(document.separatemargin, pymupdf.Rect)
        assert document.separatemargin == document.doc[0].get_drawings()[1]["rect"]
        assert (document.separatemargin.x0, document.separatemargin.y1,
                document.separatemargin.x1) == (x0, y, x1)
        assert document.pageinfomargin == pymupdf.Rect(297, y - 60, 525, y)
        assert document.pagetypemargin == pymupdf.Rect(160, 20, 480, 60)
        assert document.docmargin == pymupdf.Rect(50, 55, 555, 770)
        for rect in (document.pageinfomargin, document.pagetypemargin, document.docmargin):
            assert isinstance(rect, pymupdf.Rect)

    def test_parsedict_layout(self, patent, document):
        x0, y, x1 = patent.separator
        parsedict = document.parsedict
        assert list(parsedict) == KINDS
        for entry in parsedict.values():
            assert list(entry) == ["pages", "lines", "margins"]
        left, right = parsedict["abstract"]["margins"]
        assert left == pymupdf.Rect(x0 - 2, y, (x0 + x1) / 2 + 1, 770)
        assert right == pymupdf.Rect((x0 + x1) / 2 - 2, y, x1 + 2, 770)
        for kind in KINDS[1:]:
            (margin,) = parsedict[kind]["margins"]
            assert margin is document.docmargin

    def test_lines_contents_and_text_are_the_views(self, document):
        assert document.lines == document.get_lines()
        assert all(a is b for a, b in zip(document.lines, document.get_lines()))
        assert document.contents == document.get_content()
        assert document.text == document.get_text()

    def test_lineindex_marks_every_newline(self, document):
        text = document.text
        assert document.lineindex == [-1] + [i for i, c in enumerate(text) if c == "\n"]
        assert len(document.lineindex) == len(document.lines)

    def test_default_markerdict_is_one_shared_dict(self, patent):
        first, second = build(patent), build(patent)
        assert first.markerdict == {} and first.markerdict is second.markerdict
        mine = {"par": object}
        assert build(patent, markerdict=mine).markerdict is mine


class TestClassification:
    def test_pages_follow_the_headers(self, patent, document):
        got = {kind: entry["pages"] for kind, entry in document.parsedict.items()}
        assert got == expected_pages(patent)
        assert got["claims"] and got["descriptions"] and got["drawings"]

    def test_sequence_listing_joins_the_description(self, patent, document):
        seq_pages = [i for i, kind in enumerate(patent.page_kinds) if kind == "seqs"]
        assert seq_pages
        assert set(seq_pages) <= set(document.parsedict["descriptions"]["pages"])
        assert document.parsedict["seqs"]["pages"] == []
        assert document.parsedict["seqs"]["lines"] == []
        assert document.contents["seqs"] == []
        assert document.get_text(["seqs"]) == ""

    def test_drawings_title_holding_description_word_is_a_drawings_page(self, patent, document):
        drawings = [i for i, kind in enumerate(patent.page_kinds) if kind == "drawings"]
        assert all("说明书" in patent.headers[i] for i in drawings)
        assert document.parsedict["drawings"]["pages"] == drawings
        assert not set(drawings) & set(document.parsedict["descriptions"]["pages"])

    @pytest.mark.parametrize("spacing", [" ", "\u3000", "\u00a0", "mixed"])
    def test_spaced_titles_classify_alike(self, spacing):
        plain = build(generate_patent(4, sequences=1))
        spaced_patent = generate_patent(4, sequences=1, header_spacing=spacing)
        assert any(spacing in h for h in spaced_patent.headers) or spacing == "mixed"
        spaced = build(spaced_patent)
        assert ({k: e["pages"] for k, e in spaced.parsedict.items()}
                == {k: e["pages"] for k, e in plain.parsedict.items()})
        assert spaced.text == plain.text

    def test_mixed_spacing_really_mixes(self):
        headers = generate_patent(4, pages=12, header_spacing="mixed").headers
        assert {" ", "\u3000", "\u00a0"} <= set("".join(headers))

    def test_header_without_a_word_gives_no_kind_but_is_read_between(self):
        plain = generate_patent(6, paragraphs=40)
        description_pages = [i for i, k in enumerate(plain.page_kinds) if k == "descriptions"]
        assert len(description_pages) >= 3
        middle = description_pages[1]
        patent = generate_patent(6, paragraphs=40, header_overrides={middle: "目录"})
        document = build(patent)
        assert middle not in document.parsedict["descriptions"]["pages"]
        assert all(middle not in e["pages"] for e in document.parsedict.values())
        # Still read as part of the description, which runs from its first to its last page.
        assert {line["page"] for line in document.parsedict["descriptions"]["lines"]} >= {middle}
        assert document.text == build(plain).text

    def test_page_zero_is_always_abstract_and_may_also_join_a_kind(self):
        doc = pymupdf.open()
        first = doc.new_page(width=595, height=842)
        draw_separator(first)
        write(first, 280, 45, "权利要求书")
        write(first, 60, 280, "摘要的第一行")
        second = doc.new_page(width=595, height=842)
        write(second, 280, 45, "说明书")
        write(second, 70, 100, "说明书的正文")
        document = quorl.PdfDocument(pymupdf.open("pdf", finish(doc)))
        assert document.parsedict["abstract"]["pages"] == [0]
        assert document.parsedict["claims"]["pages"] == [0]
        assert document.parsedict["descriptions"]["pages"] == [1]
        assert document.contents["abstract"] == ["摘要的第一行"]
        assert document.contents["descriptions"] == ["说明书的正文"]

    def test_get_page_info_returns_the_same_dict_and_appends(self, patent):
        document = build(patent)
        parsedict = document.parsedict
        before = {k: list(e["pages"]) for k, e in parsedict.items()}
        assert document.get_page_info() is parsedict
        appended = expected_pages(patent)
        appended["abstract"] = []
        assert {k: e["pages"] for k, e in parsedict.items()} == {
            k: before[k] + appended[k] for k in KINDS}


class TestPageCounts:
    def test_counts_of_the_box(self, patent, document, caplog):
        with caplog.at_level(logging.WARNING):
            assert document.pageinfoparser() == patent.page_counts
        assert caplog.records == []

    def test_counts_without_sequence_listing(self):
        patent = generate_patent(2, figures=3)
        assert build(patent).pageinfoparser() == patent.page_counts
        assert patent.page_counts[2] == 0

    def test_box_on_two_lines_warns_and_still_counts(self, caplog):
        patent = generate_patent(3, count_lines=2)
        document = build(patent)
        with caplog.at_level(logging.WARNING):
            assert document.pageinfoparser() == patent.page_counts
        (record,) = caplog.records
        assert record.name == "root" and record.levelno == logging.WARNING
        assert record.getMessage().startswith("Not found error or too much error: [[{")

    def test_missing_box_warns_and_counts_nothing(self, caplog):
        document = build(generate_patent(3, count_lines=0))
        with caplog.at_level(logging.WARNING):
            assert document.pageinfoparser() == (0, 0, 0, 0)
        assert [r.getMessage() for r in caplog.records] == [
            "Not found error or too much error: []"]


class TestFailures:
    def test_document_without_pages(self):
        with pytest.raises(IndexError, match="separator line"):
            quorl.PdfDocument(pymupdf.open())

    @pytest.mark.parametrize("drawings", [0, 1])
    def test_first_page_without_separator(self, drawings):
        doc = pymupdf.open()
        page = doc.new_page()
        for k in range(drawings):
            page.draw_line((50, 100 + k), (500, 100 + k))
        write(page, 100, 300, "正文")
        with pytest.raises(IndexError, match="separator line"):
            quorl.PdfDocument(pymupdf.open("pdf", finish(doc)))

    def test_wrong_argument_is_a_python_error(self):
        with pytest.raises(AttributeError):
            quorl.PdfDocument(b"%PDF-1.7")

    @pytest.mark.parametrize("enabled", [True, False])
    def test_collector_state_survives_construction(self, patent, enabled):
        was = gc.isenabled()
        try:
            (gc.enable if enabled else gc.disable)()
            build(patent)
            assert gc.isenabled() is enabled
            with pytest.raises(IndexError):
                quorl.PdfDocument(pymupdf.open())
            assert gc.isenabled() is enabled
        finally:
            (gc.enable if was else gc.disable)()


class TestExtraction:
    def test_one_extraction_per_page(self, patent, monkeypatch):
        # Every extraction, get_text's or the document's own, makes a text page first.
        calls = []
        original = pymupdf.Page.get_textpage

        def counting(page, *args, **kwargs):
            calls.append((page.number, kwargs.get("flags")))
            return original(page, *args, **kwargs)

        monkeypatch.setattr(pymupdf.Page, "get_textpage", counting)
        document = build(patent)
        assert sorted(calls) == [(n, pymupdf.TEXTFLAGS_RAWDICT) for n in range(document.pagecount)]

    def test_pages_are_read_afresh_after_construction(self, patent):
        document = build(patent)
        page = document.doc[1]
        before = document.parse_lines(page, document.docmargin)
        page.insert_text((70, 766), "新增的一行", fontname="china-s", fontsize=10.5)
        after = document.parse_lines(document.doc[1], document.docmargin)
        assert [r["text"] for r in after] == [r["text"] for r in before] + ["新增的一行"]
        # The lines taken at construction stay as they were.
        assert document.contents["claims"] == build(patent).contents["claims"]

    def test_character_dicts_leave_the_collector_but_stay_plain_dicts(self, patent):
        document = build(patent)
        chars = [ch for line in document.lines for ch in line["chars"]]
        assert chars and not any(gc.is_tracked(ch) for ch in chars)
        ch = chars[0]
        page = document.doc[document.lines[0]["page"]]
        raw = [c for b in page.get_text("rawdict")["blocks"] if b["type"] == 0
               for l in b["lines"] for s in l["spans"] for c in s["chars"]]
        assert ch in raw
        ch["note"] = []  # a container makes the dict visible to the collector again
        assert gc.is_tracked(ch)


class TestOverrides:
    def test_subclass_methods_are_used_by_the_constructor(self, patent):
        calls = []

        class Traced(quorl.PdfDocument):
            def parse_lines(self, page, margin):
                calls.append(page.number)
                return super().parse_lines(page, margin)

            def get_text(self, typelist=KINDS):
                return super().get_text(typelist).upper()

        traced = Traced(pymupdf.open("pdf", patent.pdf))
        plain = build(patent)
        assert traced.text == plain.text.upper()
        # Every page for its header, then the pages of each kind for every region.
        pages = len(patent.page_kinds)
        assert calls[:pages] == list(range(pages))
        assert len(calls) == pages + sum(
            len(e["margins"]) * (e["pages"][-1] - e["pages"][0] + 1)
            for e in plain.parsedict.values() if e["pages"])

    def test_subclass_calling_super_init(self, patent):
        class Wrapped(quorl.PdfDocument):
            def __init__(self, doc):
                self.before = True
                super().__init__(doc)

        wrapped = Wrapped(pymupdf.open("pdf", patent.pdf))
        assert wrapped.before and wrapped.text == build(patent).text
