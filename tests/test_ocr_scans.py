"""Scans as office scanners leave them: the page image's clean-up, the layout's regions, a first
page read column by column from a speckled grey scan and a bilevel one, --ocr always never
doubling text and --ocr never on a scan. Tesseract runs for real on single pages."""
import json
import os
import re
import sys

import cv2
import numpy
import pymupdf
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "bench"))

import quorl  # noqa: E402
from ocr_measure import mark_ious, model_page_texts, similarity  # noqa: E402
from patent_files import write_patent  # noqa: E402
from quorl_mark.commands import mark as cli  # noqa: E402
from quorl_mark.ocr import clean as ocr_clean, layout as ocr_layout, page as ocr_page  # noqa: E402
from quorl_mark.ocr import running_header  # noqa: E402
from quorl_mark.ocr.document import (  # noqa: E402
    LAYER_ASCENT_DESCENT, counted_as_drawings, first_rules, ocr_document, tessdata_for,
    write_text)
from quorl_mark.ocr.hocr import OcrLine, Word, parse_pages, text_of  # noqa: E402
from quorl_mark.ocr.lines import TextLine, full_width, text_lines  # noqa: E402
from quorl_mark.ocr.specks import words_without_specks  # noqa: E402
from real_patents import pdf_path  # noqa: E402
from scans import office_scan, printed_line  # noqa: E402

DPI = 200
KNOBS = dict(pages=2, figures=0, abstract_figure=False)


def gray_pixmap(image, dpi=300):
    pix = pymupdf.Pixmap(pymupdf.csGRAY, image.shape[1], image.shape[0], image.tobytes(), False)
    pix.set_dpi(dpi, dpi)
    return pix


def pixels(pix):
    return numpy.frombuffer(pix.samples, dtype=numpy.uint8).reshape(pix.height, pix.width)


class TestCleaning:
    @pytest.mark.parametrize("step", [4, 3])  # 3: more dots than 16-bit labels count
    def test_blots_are_labelled_as_in_32_bits(self, step):
        ink = numpy.zeros((1000, 1000), dtype=numpy.uint8)
        ink[::step, ::step] = 1
        ink[500:520, 100:900] = 1  # a rule across the dots
        count, labels, stats = ocr_clean.blots(ink)
        expected = cv2.connectedComponentsWithStats(ink, connectivity=8, ltype=cv2.CV_32S)
        assert count == expected[0] and (stats == expected[2]).all()
        assert (labels.astype(numpy.int32) == expected[1]).all()

    def test_grey_shaded_paper_turns_white_and_ink_stays_dark(self):
        shade = numpy.linspace(200, 240, 600).astype(numpy.uint8)
        image = numpy.tile(shade, (400, 1))
        image[100:140, 100:500:20] = 40  # strokes
        out = pixels(ocr_clean.cleaned(gray_pixmap(image)))
        assert out[300, 10] >= 250 and out[300, 590] >= 250
        assert out[120, 100] < 80 and out[120, 480] < 80

    def test_isolated_specks_go_and_punctuation_beside_text_stays(self):
        image = numpy.full((600, 600), 255, dtype=numpy.uint8)
        image[100:140, 100:140] = 0  # a character
        image[135:139, 146:150] = 0  # a full stop after it
        image[400:403, 400:403] = 0  # a speck far from any ink
        image[95:97, 120:122] = 0  # a tiny speck just above the character
        out = pixels(ocr_clean.cleaned(gray_pixmap(image)))
        assert out[401, 401] == 255 and out[95, 120] == 255
        assert out[137, 148] < 80 and out[120, 120] < 80 and out[100, 120] < 80


    @pytest.mark.parametrize("skew", [2.5, -3.0, 0.5, 0.1])
    def test_a_crooked_sheet_is_turned_level(self, skew):
        from PIL import Image

        image = numpy.full((1400, 1000), 255, dtype=numpy.uint8)
        for y in range(150, 1250, 50):
            for x in range(100, 900, 36):
                image[y:y + 30, x:x + 30] = 30  # lines of characters
        crooked = numpy.asarray(Image.fromarray(image).rotate(skew, fillcolor=255))
        assert abs(ocr_clean.skew_angle(crooked) - skew) <= 0.15
        out = pixels(ocr_clean.cleaned(gray_pixmap(crooked)))
        left = abs(ocr_clean.skew_angle(out))
        assert left <= 0.15 if abs(skew) >= ocr_clean.LEAST_SKEW else left == pytest.approx(
            abs(skew), abs=0.15)


class TestRegions:
    def page(self):
        """A first page: a header, a rule, two columns of text lines, and a vertical number in
        the left margin."""
        image = numpy.full((3000, 2400), 255, dtype=numpy.uint8)
        image[100:140, 300:1500] = 0
        image[800:806, 200:2200] = 0  # the rule
        for y in range(900, 1600, 60):
            image[y:y + 30, 220:1050] = 0  # left column
            image[y:y + 30, 1250:2180] = 0  # right column
        image[2000:2900, 30:70] = 0  # printed vertically in the margin
        return gray_pixmap(image)

    def test_first_page_header_then_each_column_without_the_margin(self):
        pix = self.page()
        rules = quorl._find_rules(pix.samples_mv, pix.width, pix.height, pix.stride, pix.n,
                                  min_length=1000)
        found = ocr_layout.regions(pix, rules, True)
        assert [r.header for r in found] == [True, False, False]
        header, left, right = found
        assert header.y1 <= 800 and left.y0 >= 806 and right.y0 >= 806
        assert 1050 <= left.x1 < right.x0 <= 1250
        assert left.x0 > 70  # the vertical number is outside

    def test_a_figure_in_a_column_is_painted_out_and_the_text_beside_it_kept(self):
        image = numpy.full((1600, 2400), 255, dtype=numpy.uint8)
        for y in range(100, 1400, 60):
            for x in range(220, 1000, 45):
                image[y:y + 35, x:x + 35] = 0  # characters of the left column
        image[300:302, 1300:2000] = image[700:702, 1300:2000] = 160  # a light, thin frame
        image[300:702, 1300:1302] = image[300:702, 1998:2000] = 160
        image[480:515, 1500:1535] = 0  # a label inside it
        image[480:515, 2100:2160] = 0  # and one beside it
        pix = gray_pixmap(image)
        found = [ocr_layout.Region(200, 50, 1100, 1600), ocr_layout.Region(1250, 50, 2200, 1600)]
        (box,) = ocr_layout.figure_boxes(pix, found)
        assert box[0] <= 1300 and box[1] <= 300 and box[2] >= 2160 and box[3] >= 702
        out = pixels(ocr_layout.painted_out(pix, [box]))
        assert out[497, 1517] == 255 and out[497, 2130] == 255
        assert (out[:, :1100] == image[:, :1100]).all()
        assert ocr_layout.figure_boxes(pix, found[:1]) == []  # characters are no figure

    def test_later_page_and_page_without_rule(self):
        pix = self.page()
        rules = quorl._find_rules(pix.samples_mv, pix.width, pix.height, pix.stride, pix.n,
                                  min_length=1000)
        assert len(ocr_layout.regions(pix, [], True)) == 1
        # Its rule lies below a later page's header band: one region.
        assert len(ocr_layout.regions(pix, rules, False)) == 1

    def test_stacked_lines_go_back_to_their_regions(self):
        pix = self.page()
        rules = quorl._find_rules(pix.samples_mv, pix.width, pix.height, pix.stride, pix.n,
                                  min_length=1000)
        found = ocr_layout.regions(pix, rules, True)
        image, starts, gap = ocr_layout.stacked(pix, found)
        assert image.width == max(r.x1 - r.x0 for r in found) + 2 * gap
        for i, (r, start) in enumerate(zip(found, starts)):
            assert ocr_layout.region_of((0, start + 5, 10, start + 15), found, starts) == i
            assert pixels(image)[start + 2, gap:gap + r.x1 - r.x0].tolist() == \
                pixels(pix)[r.y0 + 2, r.x0:r.x1].tolist()
        assert ocr_layout.region_of((0, 1, 10, 3), found, starts) is None


@pytest.fixture(scope="module")
def patent(tmp_path_factory):
    folder = tmp_path_factory.mktemp("office")
    return write_patent(folder, "text", 5, marks=6, **KNOBS)


@pytest.mark.parametrize("bilevel", [False, True], ids=["grey-jpeg-speckle", "bilevel-g4"])
def test_office_scan_first_page_reads_column_by_column(patent, bilevel):
    html, pdf, marks = patent
    text = pymupdf.open(pdf)
    text.select([0])
    first = text.tobytes()
    scan = office_scan(first, 300, skew=0.4, seed=5, bilevel=bilevel)
    result = ocr_document(scan, dpi=DPI, jobs=1)
    truth = model_page_texts(quorl.PdfDocument(pymupdf.open("pdf", first)))[0]
    found = model_page_texts(quorl.PdfDocument(pymupdf.open("pdf", result.pdf)))[0]
    assert similarity(truth, found) >= 0.93, found
    # No printed line of the abstract is joined to a bibliographic field beside it.
    assert not [line for line in found.splitlines() if "摘要" in line and "(7" in line]


HEADER_RULE, SEPARATOR, FOOTER_RULE = (50, 156, 545), (50, 240, 545), (50, 782, 545)


@pytest.mark.parametrize("rules, count, written", [
    ([SEPARATOR, FOOTER_RULE], "权利要求书1页 说明书3页 附图2页", (SEPARATOR, SEPARATOR)),
    ([HEADER_RULE, SEPARATOR, FOOTER_RULE], "权利要求书1页 说明书3页", (HEADER_RULE, SEPARATOR)),
    ([HEADER_RULE, SEPARATOR], "权利要求韦2页 说明韦9页", (HEADER_RULE, SEPARATOR)),
    ([SEPARATOR, FOOTER_RULE], None, (SEPARATOR, SEPARATOR)),
    ([HEADER_RULE, SEPARATOR, FOOTER_RULE], None, (HEADER_RULE, SEPARATOR)),
], ids=["footer-rule", "header-and-footer-rules", "misread-names", "no-count-read",
        "no-count-read-header-rule"])
def test_the_separator_is_the_rule_under_the_page_count_box(rules, count, written):
    page = pymupdf.open().new_page(width=595, height=842)
    words = [Word(text, (305 + 50 * i, 222, 350 + 50 * i, 234))
             for i, text in enumerate((count or "摘要").split())]
    lines = [OcrLine((55, 100, 200, 112), 110, [Word("(12)发明专利申请", (55, 100, 200, 112))]),
             OcrLine((305, 222, 455, 234), 232, words)]
    assert first_rules(page, rules, lines) == written


@pytest.mark.parametrize("extras", [("footer_rule",), ("logo", "header_rule", "footer_rule"),
                                    ("logo",), ("header_rule",)],
                         ids=["footer-rule", "logo-header-and-footer-rules", "logo",
                              "header-rule"])
def test_first_page_variants_mark_on_their_scan_as_on_their_text_pdf(extras, tmp_path):
    """The separator is the rule under the page-count box, whatever else the first page
    prints: the scan's marks land where the text PDF's do, and the text PDF marks as the
    same patent without the extras."""
    outputs = {}
    plain = write_patent(tmp_path / "plain", "p", 7, marks=12, **KNOBS)
    html, pdf, marks = write_patent(tmp_path, "p", 7, marks=12, first_page=extras, **KNOBS)
    scan = tmp_path / "scanned.pdf"
    scan.write_bytes(office_scan(pdf.read_bytes(), DPI, seed=7))
    for name, (h, source, m) in (("plain", plain), ("text", (html, pdf, marks)),
                                 ("scan", (html, scan, marks))):
        out = tmp_path / (name + ".json")
        assert cli.main([str(h), str(source), str(m), "-o", str(tmp_path / (name + ".pdf")),
                         "--marks-out", str(out)]) == 0
        outputs[name] = json.loads(out.read_text(encoding="utf-8"))
    assert [m["rects"] for m in outputs["text"]] == [m["rects"] for m in outputs["plain"]]
    ious = [min(mark_ious(a["rects"], b["rects"]).values())
            for a, b in zip(outputs["text"], outputs["scan"])]
    assert sum(i >= 0.7 for i in ious) >= 0.95 * len(ious), ious


def test_ocr_always_replaces_text_instead_of_doubling_it(patent):
    pdf = patent[1]
    doc = pymupdf.open(pdf)
    doc.select([1])
    page_text = doc.tobytes()
    once = ocr_document(page_text, dpi=DPI, pages="all", jobs=1)
    twice = ocr_document(once.pdf, dpi=DPI, pages="all", jobs=1)
    for result in (once, twice):
        page = pymupdf.open("pdf", result.pdf)[0]
        assert page.get_text().count("[0001]") <= 1
        spans = [s for b in page.get_text("dict")["blocks"] for line in b.get("lines", ())
                 for s in line["spans"] if s["text"].strip()]
        assert spans and all(s["alpha"] == 0 for s in spans)  # only the invisible layer
        assert page.get_images()  # the printed page is kept as its image
    first = pymupdf.open("pdf", once.pdf)[0].get_text()
    assert similarity(first, pymupdf.open("pdf", twice.pdf)[0].get_text()) > 0.95


def test_ocr_never_on_a_scan_says_it_has_no_text_layer(patent, tmp_path, capsys):
    html, pdf, marks = patent
    scan = tmp_path / "scan.pdf"
    scan.write_bytes(office_scan(pdf.read_bytes(), 100, seed=1))
    assert cli.main([str(html), str(scan), str(marks), "-o", str(tmp_path / "out.pdf"),
                     "--ocr", "never"]) == 1
    err = capsys.readouterr().err
    assert "no text layer" in err and "--ocr auto" in err


def header_line(*texts):
    """A header line of words 40 points apart, each 10 points wide per character."""
    words, x = [], 60.0
    for text in texts:
        words.append(Word(text, (x, 30.0, x + 10 * len(text), 42.0), 80.0))
        x += 10 * len(text) + 40
    return OcrLine((60.0, 30.0, x - 40, 42.0), 41.0, words)


class TestRunningHeader:
    @pytest.mark.parametrize("texts, name", [
        (("CN", "110532550", "A", "权", "--", "利要求书", "1/2页"), "权利要求书"),
        (("CN", "110532550", "人", "A", "要求书", "2/2页"), "权利要求书"),
        (("CN", "110532550", "A", "说明书附", "，，"), "说明书附图"),
        (("CN", "110532550", "A", "说", "明", "书", "附", "图", "1/4页"), "说明书附图"),
        (("CN", "110532550", "A", "说", "明", "书", "3/5页"), "说明书"),
        (("CN", "110532550", "A", "说明", "3/5页"), "说明书"),
    ])
    def test_a_misread_part_name_is_set_right(self, texts, name):
        line = header_line(*texts)
        fixed = running_header.header_lines([line])
        assert running_header.part_name(fixed)[0] == name
        assert name in [text_of(one) for one in fixed] or name in "".join(texts)
        assert all(len(one.words) == 1 and one.baseline == line.baseline for one in fixed)
        # The words before the name stay where they were.
        assert [one.words[0] for one in fixed[:2]] == line.words[:2]

    @pytest.mark.parametrize("texts", [("CN", "110532550", "A"), ("一种方法", "1/2页")])
    def test_no_name_is_made_up(self, texts):
        line = header_line(*texts)
        assert running_header.part_name([line]) is None
        assert [one.words[0] for one in running_header.header_lines([line])] == line.words


@pytest.mark.parametrize("header, counted", [
    (("CN", "110532550", "A", "说明书附图", "1/3页"), [False, True, True, False]),
    (("CN", "110532550", "A", "说明书附图", "3/3页"), [False, False, False, False]),
    (("CN", "110532550", "A", "说明书附图"), [False, False, False, False]),  # no count read
    (("CN", "110532550", "A", "说明书", "1/3页"), [False, False, False, False]),
])
def test_a_drawings_page_counts_the_drawings_after_it(header, counted):
    found = {7: {"lines": [header_line(*header)], "header": 1}, 8: "Tesseract failed on it"}
    assert [counted_as_drawings(found, n) for n in (7, 8, 9, 10)] == counted


def line_boxes(page):
    return [("".join(span["text"] for span in line["spans"]), line["bbox"])
            for block in page.get_text("dict")["blocks"] for line in block.get("lines", ())]


HEADERS = {"claims 1": ("CN", "110532550", "A", "权利要求书", "1/2页"),
           "claims 2": ("CN", "110532550", "A", "权利要求书", "2/2页"),
           "description 2": ("CN", "110532550", "A", "说明书", "2/5页"),
           "description 3": ("CN", "110532550", "A", "说明书", "3/5页"),
           "lost 2": ("CN", "110532550", "A", "收取", "二", "韦", "2/2页"),
           "lost 1": ("CN", "110532550", "A", "收取", "二", "韦", "1/5页"),
           "lost, no count": ("CN", "110532550", "A", "收取", "二", "韦"),
           "drawings 1": ("CN", "110532550", "A", "说明书附图", "1/2页"),
           "drawings read as description": ("CN", "110532550", "A", "说明书几", "2/2页")}


@pytest.mark.parametrize("pages, name", [
    (("claims 1", "lost 2", "description 2"), "权利要求书"),
    (("claims 2", "lost 1", "description 2"), "说明书"),
    (("description 2", "lost, no count", "description 2"), "说明书"),
    (("claims 2", "lost, no count", "description 2"), "说明书"),
    (("claims 2", "lost, no count", "description 3"), None),
    (("claims 1", "lost, no count", "description 3"), "权利要求书"),
    ((None, "lost 2", "claims 2"), None),
    (("drawings 1", "drawings read as description", None), "说明书附图"),
    (("description 2", "description 2", "drawings 1"), None),
    (("description 2", "drawings 1", "description 3"), "说明书"),
    (("drawings 1", "description 3", "description 3"), None),
])
def test_a_header_lost_to_misreading_takes_its_part_from_the_pages_around_it(pages, name):
    headers = [None if page is None else running_header.header_lines([header_line(*HEADERS[page])])
               for page in pages]
    assert running_header.names_from_neighbours(headers) == [None, name, None]
    if name is not None and running_header.part_name(headers[1]) is None:
        named = running_header.with_name(headers[1], name)
        assert [text_of(line) for line in named] == ["CN", "110532550", "A", name,
                                                     HEADERS[pages[1]][-1]][:len(named)]
        assert running_header.part_name(named)[0] == name


def test_office_scan_of_a_real_publication_keeps_every_part(tmp_path):
    """Front page, a claims page and a drawings page of a real publication: each later page is
    found by its running header (the part's name spaced out, a character of it often misread),
    and page 1's abstract is read column by column."""
    text = pymupdf.open(pdf_path("CN110532550A"))
    text.select([0, 1, 8])
    pdf = text.tobytes()
    result = ocr_document(office_scan(pdf, 300, skew=-0.6, seed=0), dpi=DPI, jobs=2)
    truth = quorl.PdfDocument(pymupdf.open("pdf", pdf))
    found = quorl.PdfDocument(pymupdf.open("pdf", result.pdf))
    assert [found.parsedict[kind]["pages"] for kind in ("abstract", "claims", "drawings")] == \
        [[0], [1], [2]]
    truth_texts, found_texts = model_page_texts(truth), model_page_texts(found)
    assert similarity(truth_texts[0], found_texts[0]) >= 0.9
    assert similarity(truth_texts[1], found_texts[1]) >= 0.8
    assert "图1" in found_texts[2]
    # The crooked sheet is shown level, its text layer where the publication prints its text.
    shown = pymupdf.open("pdf", result.pdf)[1]
    tilt = ocr_clean.skew_angle(pixels(shown.get_pixmap(dpi=100, colorspace=pymupdf.csGRAY)))
    assert abs(tilt) < 0.15
    def by_start(page):  # lines by their first ten characters, where those are unique
        lines = [(words[:10], box) for words, box in line_boxes(page) if len(words) >= 10]
        starts = [start for start, _ in lines]
        return {start: box for start, box in lines if starts.count(start) == 1}
    printed, starts = by_start(text[1]), by_start(shown)
    placed = [(box, starts[start]) for start, box in printed.items() if start in starts]
    assert len(placed) >= 0.6 * len(printed)
    assert [(a, b) for a, b in placed if abs(a[0] - b[0]) > 3 or abs(a[3] - b[3]) > 2] == []


def test_real_bilevel_scan_drawings_and_paragraph_numbers():
    """Pages 1, 3 and 7 of a real fax-mode scan (CCITT G4): a drawings page is found by its
    header and keeps its two captions only, and a description page's paragraph numbers come
    without a quotation mark."""
    scan = os.path.join(os.path.dirname(__file__), "real_scans", "CN102521584B-pages-1-3-7.pdf")
    result = ocr_document(scan, dpi=DPI, jobs=2)
    found = quorl.PdfDocument(pymupdf.open("pdf", result.pdf))
    assert found.parsedict["drawings"]["pages"] == [2]
    assert found.parsedict["descriptions"]["pages"] == [1]
    texts = model_page_texts(found)
    assert texts[2].split() == ["图1", "图2"]
    numbers = re.findall(r"\[\d{4}\](.)", texts[1])
    assert len(numbers) >= 5 and not set(numbers) & set("“”\"'")


def cjk_line(text, x0, x1, top, height, confidence=90.0):
    return OcrLine((x0, top, x1, top + height), top + 0.9 * height,
                   [Word(text, (x0, top, x1, top + height), confidence)])


class TestTextLayer:
    def test_characters_take_the_layers_em_box(self):
        """A reader takes a character's box from its font's ascent and descent: the layer's
        fonts, CJK and Latin alike, declare a box close to a printed em, not the built-in
        fonts' 1.2 and 1.37 em."""
        doc = pymupdf.open()
        write_text(doc.new_page(), [TextLine(100.0, 12.0, [("权", 72.0), ("利", 84.0),
                                                           ("A", 96.0), ("1", 104.0),
                                                           ("…", 112.0), ("S", 124.0)])])
        page = pymupdf.open("pdf", doc.tobytes())[0]
        chars = [char for block in page.get_text("rawdict")["blocks"]
                 for line in block["lines"] for span in line["spans"] for char in span["chars"]]
        assert "".join(char["c"] for char in chars) == "权利A1…S"
        assert chars[4]["bbox"][2] - chars[4]["bbox"][0] == pytest.approx(12, abs=0.01)
        ascent, descent = (value / 1000 * 12 for value in LAYER_ASCENT_DESCENT)
        assert ascent - descent <= 1.1 * 12
        for char in chars:
            assert char["bbox"][1] == pytest.approx(100 - ascent, abs=0.01)
            assert char["bbox"][3] == pytest.approx(100 - descent, abs=0.01)

    @pytest.mark.parametrize("text, right, height, size", [
        # A paragraph's last line whose box Tesseract stretched to the next line's end.
        ("日志异常检测模型。", 434.0, 17.0, 12.0),
        # A heading printed larger: its ink is as tall as its width says.
        ("发明内容和具体实施方式的说明", 60 + 14 * 16.0, 15.2, 16.0),
    ])
    def test_a_long_run_is_set_at_its_size(self, text, right, height, size):
        lines = [cjk_line("权" * 40, 60.0, 60.0 + 39.9 * 12, 100.0 + 18 * i, 11.4)
                 for i in range(3)] + [cjk_line(text, 60.0, right, 160.0, height)]
        run = [line for line in text_lines(lines) if line.text == text][0]
        assert run.size == pytest.approx(size, rel=0.05)
        assert run.chars[1][1] - run.chars[0][1] == pytest.approx(size, rel=0.05)

    @pytest.mark.parametrize("read, printed", [
        ("领域知识.已有的工作", "领域知识。已有的工作"), ("处理方法.", "处理方法。"),
        ("申请日2019.08.18", "申请日2019.08.18"), ("(51)Int.Cl.", "(51)Int.Cl."),
        ("如图1.5所示", "如图1.5所示"), ("(如图2)", "（如图2）"), ("(21)申请号", "(21)申请号"),
        ("异常`正常\\异常", "异常、正常、异常"), ("集合M1,M2,⋯Mn", "集合M1,M2,…Mn"),
        ("[0005](3)类型", "[0005]（3）类型"), ("网络(LSTM)进行", "网络（LSTM）进行"),
        ("窗口G(z)。判别", "窗口G(z)。判别"), ("学习\"正确”模板", "学习“正确”模板"),
        ("节点\"Interface\"的", "节点“Interface”的"), ("“在……时\"或", "“在……时”或"),
        ("值为\"1\".", "值为“1”。"), ('"(12)"', '"(12)"')])
    def test_punctuation_of_chinese_text_is_full_width(self, read, printed):
        assert full_width(read) == printed

    def test_specks_read_as_punctuation_are_left_out(self):
        """A full stop read where a speck lies beside a Chinese line goes; a printed full stop
        (its ink a quarter of an em across, past a box cut too small) and a Latin decimal point
        stay."""
        image = numpy.full((200, 900), 255, dtype=numpy.uint8)
        image[50:90, 100:140] = 0  # 字
        image[82:85, 160:163] = 0  # a speck after it
        image[50:90, 300:340] = 0  # 字
        image[78:90, 344:356] = 0  # its full stop
        image[80:84, 500:504] = 0  # a decimal point between digits
        zoom = 300 / 72

        def word(text, x0, x1, y0=50, y1=90):
            return Word(text, (x0 / zoom, y0 / zoom, x1 / zoom, y1 / zoom), 50.0)

        lines = [OcrLine((0, 0, 100, 30), 20, [word("字", 100, 140), word(".", 160, 163, 82, 85)]),
                 OcrLine((0, 0, 100, 30), 20, [word("字", 300, 340), word("。", 345, 347, 80, 82)]),
                 OcrLine((0, 0, 100, 30), 20, [word("1", 480, 495), word(".", 500, 504, 80, 84),
                                               word("5", 510, 525)]),
                 OcrLine((0, 0, 100, 30), 20, [word(".", 160, 163, 82, 85)])]
        kept = words_without_specks(lines, gray_pixmap(image), zoom)
        assert [text_of(line) for line in kept] == ["字", "字。", "1.5"]

    @pytest.mark.parametrize("black_and_white", [True, False])
    def test_a_black_and_white_page_reaches_tesseract_as_a_bitmap(self, black_and_white):
        image = numpy.full((30, 40), 255, dtype=numpy.uint8)
        image[10:20, 5:35] = 0 if black_and_white else 90
        data = ocr_clean.encoded(gray_pixmap(image))
        assert data.startswith(b"P4" if black_and_white else b"P5")
        assert (cv2.imdecode(numpy.frombuffer(data, numpy.uint8), cv2.IMREAD_GRAYSCALE)
                == image).all()

    @pytest.mark.parametrize("words, caption", [
        (["加", "1"], "图1"), (["图2A"], "图2A"), (["团", "12"], "图12"), (["加"], None),
        (["说明书"], None), (["11"], None), (["图", "1!"], "图1"), (["加", "3", "|"], "图3"),
        (["!"], None)])
    def test_a_captions_misread_first_character(self, words, caption):
        line = OcrLine((0, 0, 10, 10), 9, [Word(w, (0, 0, 10, 10)) for w in words])
        found = ocr_page.as_caption(line)
        assert (found and text_of(found)) == caption

    def test_a_formula_printed_as_an_image_keeps_only_its_paragraph_number(self):
        def line(words, top, height, confidence):
            box = (60.0, top, 500.0, top + height)
            return OcrLine(box, top + height - 2, [Word(w, (60.0 + 40 * i, top, 90.0 + 40 * i,
                                                             top + height), confidence)
                                                        for i, w in enumerate(words)])

        text = [line(["其中", "L", "为"], 100 + 14 * i, 11.0, 90.0) for i in range(4)]
        formula = line(["[0099]", "尼一JOg了", "(z)站"], 170.0, 40.0, 30.0)
        heading = line(["发明内容"], 220.0, 24.0, 92.0)  # printed large, read well
        address = line(["IP=111.43.122.194"], 250.0, 11.0, 23.0)  # read poorly, as tall as text
        kept = ocr_page._without_formulas(text + [formula, heading, address])
        assert [text_of(found) for found in kept[4:]] == ["[0099]", "发明内容",
                                                          "IP=111.43.122.194"]
        assert kept[4].box == formula.words[0].box and kept[4].baseline == formula.baseline
        assert kept[:4] == text

    # A generated drawings page with no rule under its header (points): the header's two blots
    # of text, figure 1 in two pieces whose boxes overlap, figure 2, and their captions.
    HEADER = [(274, 24, 360, 55), (48, 30, 135, 56)]
    FIGURE_1 = [(348, 91, 442, 282), (152, 202, 366, 323)]
    FIGURE_2 = [(162, 373, 432, 625)]

    @pytest.mark.parametrize("figures, captions, header_read, each", [
        (HEADER + FIGURE_1 + FIGURE_2, [("图1", 337), ("图2", 639)], True, True),
        (HEADER + FIGURE_1 + FIGURE_2, [("图1", 337), ("图2", 639)], False, False),
        (FIGURE_1 + FIGURE_2, [("图2", 639)], True, False),  # figure 1's caption lost
        (FIGURE_1 + FIGURE_2, [("图1", 337)], True, False),  # nothing under figure 2
        (FIGURE_2 + [(450, 373, 560, 625)], [("图2", 639)], True, False),  # side by side
        (FIGURE_2 + [(450, 373, 560, 625)], [("图2", 639), ("图3", 641)], True, True)])
    def test_each_figure_of_a_drawings_page_has_its_caption(self, figures, captions,
                                                             header_read, each):
        def line(text, top, x0=290, width=15, height=9):
            box = (x0, top, x0 + width, top + height)
            return OcrLine(box, box[3], [Word(text, box, 90.0)])
        found = [line(text, top) for text, top in captions]
        read = found + [line("CN102659253A说明书附图/1页", 34, 60, 380, 13)] * header_read
        assert ocr_page._each_captioned(figures, found, read) == each

    @pytest.mark.parametrize("text, box, confidence, stroke", [
        ("上", (171.8, 601.2, 410.9, 616.1), 30.0, True),  # a figure's line read as 上
        ("图1", (289.7, 337.0, 303.1, 346.1), 30.0, False),
        ("上", (171.8, 601.2, 410.9, 616.1), 90.0, False)])
    def test_a_drawings_pages_strokes_read_as_characters(self, text, box, confidence, stroke):
        line = OcrLine(box, box[3], [Word(text, box, confidence)])
        assert ocr_page._a_stroke(line) == stroke

    def test_lines_read_again_in_one_run_keep_their_places(self):
        """Several crops, a blank one among them, read by one Tesseract run: each crop's lines
        come back for it, moved to where it was cut."""
        images = [printed_line(text) for text in ("图1", "", "说明书附图")]
        hocr_pages = ocr_page._tesseract_each(images, "chi_sim", tessdata_for("chi_sim"),
                                              ocr_page.LINE_SEGMENTATION)
        pages = parse_pages(hocr_pages, 72 / 300, [(0, 0), (0, 0), (1000, 2000)])
        assert [[text_of(line) for line in lines] for lines in pages] == [["图1"], [],
                                                                         ["说明书附图"]]
        assert pages[2][0].box[0] == pytest.approx(1000 * 72 / 300 + 10, abs=3)
