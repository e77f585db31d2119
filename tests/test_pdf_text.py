"""Kinds, line and text views of a PdfDocument, and page images, on generated patents."""
import pymupdf
import pytest

import quorl
from patents import generate_patent

KINDS = ["abstract", "claims", "descriptions", "seqs", "drawings"]
NBSP = "\u00a0"


def expected_contents(patent):
    """Line texts per kind from the generator's layout: sequence-listing pages are description
    pages, and every kind is read from its first to its last page."""
    contents = {kind: [] for kind in KINDS}
    for number, kind in enumerate(patent.page_kinds):
        contents["descriptions" if kind == "seqs" else kind] += patent.page_lines[number]
    return contents


@pytest.fixture(scope="module", params=[0, 5, 12])
def patent(request):
    seed = request.param
    return generate_patent(seed, sequences=seed % 2 + (seed == 12), split_lines=4, nbsp_lines=4,
                           mixed_size_lines=4, header_spacing="mixed" if seed else None)


@pytest.fixture(scope="module")
def document(patent):
    return quorl.PdfDocument(pymupdf.open("pdf", patent.pdf))


class TestKinds:
    def test_contents_in_reading_order(self, patent, document):
        assert document.contents == expected_contents(patent)
        assert list(document.contents) == KINDS

    def test_line_pages_and_order(self, document):
        for kind in KINDS:
            pages = [line["page"] for line in document.parsedict[kind]["lines"]]
            assert pages == sorted(pages)
        abstract = document.parsedict["abstract"]["lines"]
        middle = (document.separatemargin.x0 + document.separatemargin.x1) / 2
        # The left column first, then the right one (which ends with the abstract figure).
        sides = [line["bbox"][0] < middle for line in abstract]
        assert sides == sorted(sides, reverse=True) and sides[0] and not sides[-1]
        assert abstract[-1]["text"] == "#imagefile#"

    def test_quirk_lines(self, patent, document):
        for quirk, places in patent.quirks.items():
            for number, index in places:
                text = patent.page_lines[number][index]
                kind = patent.page_kinds[number]
                assert text in document.contents[kind], (quirk, text)
                if quirk == "nbsp":
                    assert NBSP in text
                    assert text.replace(NBSP, "") in document.text.split("\n")

    def test_mixed_sizes_stay_one_line(self, patent, document):
        for number, index in patent.quirks["mixed"]:
            record = next(line for line in document.lines
                          if line["page"] == number and line["text"] == patent.page_lines[number][index])
            sizes = {round(c["bbox"][3] - c["bbox"][1], 1) for c in record["chars"]}
            assert len(sizes) > 1

    def test_parse_content_reads_first_to_last_page(self, document):
        entry = {"pages": [1, 3], "lines": [], "margins": [document.docmargin]}
        lines = document.parse_content(entry)
        assert entry["lines"] is lines
        assert sorted({line["page"] for line in lines}) == [1, 2, 3]

    def test_parse_content_without_pages(self, document):
        sentinel = ["untouched"]
        entry = {"pages": [], "lines": sentinel, "margins": [document.docmargin]}
        result = document.parse_content(entry)
        assert result == [] and result is not sentinel and entry["lines"] is sentinel

    def test_parse_content_beyond_the_document(self, document):
        entry = {"pages": [document.pagecount - 1, document.pagecount + 2],
                 "lines": [], "margins": [document.docmargin]}
        with pytest.raises(IndexError):
            document.parse_content(entry)


class TestViews:
    def test_get_lines_shares_the_records(self, document):
        lines = document.get_lines(["claims", "abstract"])
        claims = document.parsedict["claims"]["lines"]
        abstract = document.parsedict["abstract"]["lines"]
        assert len(lines) == len(claims) + len(abstract)
        assert all(a is b for a, b in zip(lines, claims + abstract))
        assert lines is not document.get_lines(["claims", "abstract"])

    def test_get_content_new_dict_in_typelist_order(self, document):
        content = document.get_content(["drawings", "claims"])
        assert list(content) == ["drawings", "claims"]
        assert content["claims"] == [line["text"] for line in document.parsedict["claims"]["lines"]]
        assert content["claims"] is not document.get_content(["claims"])["claims"]

    def test_get_text_joins_lines_without_no_break_spaces(self, document):
        texts = [line["text"] for line in document.lines]
        assert document.get_text() == "\n".join(texts).replace(NBSP, "")
        assert document.get_text().count("\n") == len(texts) - 1
        for kind in KINDS:
            assert document.get_text([kind]) == "\n".join(document.contents[kind]).replace(NBSP, "")
        assert document.get_text(["seqs"]) == "" and document.get_text([]) == ""

    def test_no_break_space_stays_in_chars_and_contents(self, patent, document):
        number, index = patent.quirks["nbsp"][0]
        text = patent.page_lines[number][index]
        record = next(line for line in document.lines if line["text"] == text)
        assert NBSP in [c["c"] for c in record["chars"]]
        assert any(NBSP in t for t in document.contents[patent.page_kinds[number]])
        assert NBSP not in document.text

    def test_defaults_are_the_five_kinds_and_stay_unchanged(self, document):
        assert document.get_lines() == document.get_lines(KINDS)
        assert list(document.get_content()) == KINDS
        document.get_content().clear()
        assert list(document.get_content()) == KINDS

    def test_unknown_kind(self, document):
        with pytest.raises(KeyError):
            document.get_text(["figures"])
        with pytest.raises(KeyError):
            document.get_content(["abstract", "figures"])

    def test_views_follow_a_changed_parsedict(self, document):
        class View(type(document)):
            def __init__(self):
                self.parsedict = {"claims": {"lines": [{"text": "ab"}, {"text": "c\u00a0d"}]},
                                  "abstract": {"lines": [{"text": "ef"}]}}

        view = View()
        assert view.get_text(["claims", "abstract"]) == "ab\ncd\nef"
        assert view.get_content(["abstract"]) == {"abstract": ["ef"]}
        view.parsedict["claims"]["lines"].append({"text": 5})
        with pytest.raises(TypeError):
            view.get_text(["claims"])


class TestPageImages:
    def test_drawing_pages(self, patent, document):
        for number in document.parsedict["drawings"]["pages"]:
            images = document.getpageimages(number)
            info = [pymupdf.Rect(i["bbox"]) for i in document.doc[number].get_image_info()]
            assert len(images) == len(info) >= 1
            assert all(isinstance(r, pymupdf.Rect) and r in document.docmargin for r in images)
            for got, seen in zip(images, info):
                assert all(abs(a - b) < 0.01 for a, b in zip(got, seen))

    def test_abstract_figure_is_an_image_of_the_first_page(self, document):
        (figure,) = document.getpageimages(0)
        assert figure in document.parsedict["abstract"]["margins"][1]

    def test_text_pages_have_no_images(self, document):
        assert document.getpageimages(document.parsedict["claims"]["pages"][0]) == []
