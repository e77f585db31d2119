"""The test-patent generator: layout of the PDF, the matching HTML, knobs and determinism."""
import difflib

import pymupdf
import pytest
from bs4 import BeautifulSoup

from patents import generate_patent

NBSP = "\u00a0"


@pytest.fixture(scope="module")
def patent():
    return generate_patent(3, sequences=2, figures=3)


def lines_in(page, rect):
    return [("".join(c["c"] for s in l["spans"] for c in s["chars"]), pymupdf.Rect(l["bbox"]))
            for b in page.get_text("rawdict")["blocks"] if b["type"] == 0 for l in b["lines"]
            if pymupdf.Rect(l["bbox"]) in rect]


class TestPdfLayout:
    def test_a4_pages(self, patent):
        doc = patent.open()
        assert doc.page_count == len(patent.page_kinds) == len(patent.headers)
        assert all(page.rect == pymupdf.Rect(0, 0, 595, 842) for page in doc)

    def test_page_order(self, patent):
        kinds = patent.page_kinds
        assert kinds[0] == "abstract"
        order = ["abstract", "claims", "descriptions", "seqs", "drawings"]
        assert kinds == sorted(kinds, key=order.index)
        assert set(kinds) == set(order)

    def test_separator_is_the_second_drawing(self, patent):
        doc = patent.open()
        drawings = doc[0].get_drawings()
        assert len(drawings) >= 2
        separator = drawings[1]["rect"]
        assert separator.height == 0 and separator.width > 450
        assert (separator.x0, separator.y1, separator.x1) == patent.separator

    def test_count_box_is_one_single_line_block(self, patent):
        doc = patent.open()
        y = patent.separator[1]
        box = pymupdf.Rect(297, y - 60, 525, y)
        blocks = [b for b in doc[0].get_text("dict")["blocks"]
                  if b["type"] == 0 and pymupdf.Rect(b["bbox"]) in box]
        assert len(blocks) == 1 and len(blocks[0]["lines"]) == 1
        text = "".join(s["text"] for s in blocks[0]["lines"][0]["spans"])
        claims, description, sequences, drawings = patent.page_counts
        assert text == "权利要求书%d页 说明书%d页 序列表%d页 附图%d页" % (
            claims, description, sequences, drawings)

    def test_headers_sit_in_the_header_band(self, patent):
        doc = patent.open()
        band = pymupdf.Rect(160, 20, 480, 60)
        assert lines_in(doc[0], band) == []
        for number in range(1, doc.page_count):
            (text, _), = lines_in(doc[number], band)
            assert text == patent.headers[number]
        assert patent.headers[1:] == [
            {"claims": "权利要求书", "descriptions": "说明书", "seqs": "序列表",
             "drawings": "说明书附图"}[kind] for kind in patent.page_kinds[1:]]

    def test_body_lines_and_page_numbers(self, patent):
        doc = patent.open()
        body = pymupdf.Rect(50, 55, 555, 770)
        for number in range(1, doc.page_count):
            texts = [t for t, _ in lines_in(doc[number], body)]
            assert sorted(texts) == sorted(t for t in patent.page_lines[number]
                                           if t != "#imagefile#")
            below = lines_in(doc[number], pymupdf.Rect(0, 770, 595, 842))
            assert [t for t, _ in below] == [str(number + 1)]

    def test_abstract_columns(self, patent):
        doc = patent.open()
        x0, y, x1 = patent.separator
        middle = (x0 + x1) / 2
        left = [t for t, _ in lines_in(doc[0], pymupdf.Rect(x0 - 2, y, middle + 1, 770))]
        right = [t for t, _ in lines_in(doc[0], pymupdf.Rect(middle - 2, y, x1 + 2, 770))]
        assert left[0].startswith("(21)申请号") and right[0] == "(54)发明名称"
        assert left + right + ["#imagefile#"] == patent.page_lines[0]

    def test_description_paragraph_numbers(self, patent):
        numbers = [line[:6] for number, kind in enumerate(patent.page_kinds)
                   if kind == "descriptions" for line in patent.page_lines[number]
                   if line.startswith("[0")]
        assert numbers == ["[%04d]" % k for k in range(1, len(numbers) + 1)]

    def test_drawings_pages_hold_images_and_captions(self, patent):
        doc = patent.open()
        captions = []
        for number, kind in enumerate(patent.page_kinds):
            if kind != "drawings":
                continue
            assert len(doc[number].get_images()) >= 1
            captions += [t for t in patent.page_lines[number] if t != "#imagefile#"]
        assert captions == ["图1", "图2", "图3"]

    def test_sequence_listing_pages(self, patent):
        seq_lines = [line for number, kind in enumerate(patent.page_kinds) if kind == "seqs"
                     for line in patent.page_lines[number]]
        assert seq_lines[0].startswith("<110>")
        assert sum(line.startswith("<210>") for line in seq_lines) == 2

    def test_no_sequences_no_figures(self):
        patent = generate_patent(3, figures=0, abstract_figure=False)
        assert "seqs" not in patent.page_kinds and "drawings" not in patent.page_kinds
        assert patent.page_counts[2:] == (0, 0)
        assert "#imagefile#" not in patent.page_lines[0]
        assert "<img" not in patent.html


class TestQuirks:
    def test_quirks_are_placed_where_asked(self):
        patent = generate_patent(8, split_lines=3, nbsp_lines=2, mixed_size_lines=4)
        assert {k: len(v) for k, v in patent.quirks.items()} == {"split": 3, "nbsp": 2, "mixed": 4}
        for number, index in patent.quirks["nbsp"]:
            assert NBSP in patent.page_lines[number][index]
        for kind, places in patent.quirks.items():
            assert all(patent.page_kinds[n] in ("claims", "descriptions") for n, _ in places)

    def test_no_break_space_reads_back(self):
        patent = generate_patent(8, nbsp_lines=3)
        doc = patent.open()
        for number, index in patent.quirks["nbsp"]:
            text = patent.page_lines[number][index]
            found = [t for t, _ in lines_in(doc[number], pymupdf.Rect(50, 55, 555, 770))]
            assert text in found

    def test_mixed_sizes_read_back_as_one_line(self):
        patent = generate_patent(8, mixed_size_lines=3)
        doc = patent.open()
        for number, index in patent.quirks["mixed"]:
            text = patent.page_lines[number][index]
            line = next(l for b in doc[number].get_text("rawdict")["blocks"] if b["type"] == 0
                        for l in b["lines"]
                        if "".join(c["c"] for s in l["spans"] for c in s["chars"]) == text)
            assert len({s["size"] for s in line["spans"]}) == 2

    def test_too_many_quirks(self):
        with pytest.raises(ValueError, match="quirk"):
            generate_patent(0, claims=1, paragraphs=0, figures=0, split_lines=500)

    def test_quirks_leave_the_text_alone(self):
        plain = generate_patent(8)
        quirky = generate_patent(8, split_lines=3, mixed_size_lines=3)
        assert plain.page_lines == quirky.page_lines and plain.html == quirky.html


class TestHtml:
    def test_sections_and_elements(self, patent):
        soup = BeautifulSoup(patent.html, "lxml")
        for section in ("cn-bibliographic-info", "claims", "description", "drawings"):
            assert soup.find(id=section) is not None
        claims = soup.find(id="claims").find_all("div", class_="claim")
        assert [c["id"] for c in claims] == ["cl%04d" % k for k in range(1, len(claims) + 1)]
        assert [c.text for c in claims] == patent.html_texts["claims"]
        headings = soup.find(id="description").find_all("h2")
        assert [h.text for h in headings] == ["技术领域", "背景技术", "发明内容", "附图说明",
                                              "具体实施方式"]
        assert all(h.get("id") for h in headings)
        paragraphs = soup.find(id="description").find_all("div", class_="description-paragraph")
        assert all(p.get("id") and p.text.startswith("[0") for p in paragraphs)
        images = soup.find(id="drawings").find_all("img")
        assert [i["id"] for i in images] == ["f0001", "f0002", "f0003"]
        assert all(i["src"].endswith(".png") for i in images)
        soup.decompose()

    def test_html_text_matches_pdf_text(self, patent):
        soup = BeautifulSoup(patent.html, "lxml")
        claims_html = soup.find(id="claims").text.replace("\n", "")
        soup.decompose()
        claims_pdf = "".join(line for number, kind in enumerate(patent.page_kinds)
                             if kind == "claims" for line in patent.page_lines[number])
        assert claims_html == claims_pdf

    def test_no_indentation_between_elements(self, patent):
        assert "\n " not in patent.html and "\n\t" not in patent.html

    @pytest.mark.parametrize("kind", ["substitutions", "insertions", "deletions", "halfwidth"])
    def test_edits_touch_the_html_only(self, kind):
        plain = generate_patent(5)
        edited = generate_patent(5, **{kind: 3})
        assert edited.pdf == plain.pdf
        assert len(edited.edits) == 3 and {e[0] for e in edited.edits} == {kind.rstrip("s")}
        plain_text = "".join("".join(v) for v in plain.html_texts.values())
        edited_text = "".join("".join(v) for v in edited.html_texts.values())
        matcher = difflib.SequenceMatcher(None, plain_text, edited_text, autojunk=False)
        changes = [op for op in matcher.get_opcodes() if op[0] != "equal"]
        assert 1 <= len(changes) <= 3
        expected_delta = {"insertions": 3, "deletions": -3}.get(kind, 0)
        assert len(edited_text) - len(plain_text) == expected_delta


class TestKnobs:
    def test_deterministic_per_seed(self):
        a, b = generate_patent(13, sequences=1, nbsp_lines=2), generate_patent(13, sequences=1,
                                                                               nbsp_lines=2)
        assert a.pdf == b.pdf and a.html == b.html
        assert generate_patent(14).pdf != a.pdf

    def test_pages_knob(self):
        patent = generate_patent(2, pages=9)
        assert len(patent.page_kinds) == 9

    def test_header_overrides_and_spacing(self):
        patent = generate_patent(2, header_spacing=" ", header_overrides={2: "目录"})
        assert patent.headers[1] == "权 利 要 求 书" and patent.headers[2] == "目 录"

    def test_count_box_knobs(self):
        assert generate_patent(2, count_lines=0).page_counts == generate_patent(2).page_counts
        with pytest.raises(ValueError):
            generate_patent(2, count_lines=3)

    def test_unknown_knob(self):
        with pytest.raises(TypeError, match="colour"):
            generate_patent(2, colour="red")
