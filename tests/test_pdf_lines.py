"""Line extraction and reading order: line ranges, bands, line records, regions of real pages."""
import math
import types

import pymupdf
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorl
from patents import draw_separator, finish, generate_patent, image, write


# A plain reading of the ordering rules, the oracle of the property tests. Zero heights (and a
# zero product of heights) fall back to containment.
def within(y0, y1, r):
    return r[0] <= y0 and y1 <= r[1]


def ref_widens(y0, y1, r):
    if y1 - y0 == 0 or r[1] - r[0] == 0 or (y1 - y0) * (r[1] - r[0]) == 0:
        return within(y0, y1, r)
    return (y0 - r[0]) * (y1 - r[1]) / ((y1 - y0) * (r[1] - r[0])) < 0.5


def ref_holds(y0, y1, r):
    if y1 - y0 == 0 or r[1] - r[0] == 0:
        return within(y0, y1, r)
    return (y0 - r[0]) * (y1 - r[1]) / (y1 - y0) * (r[1] - r[0]) < 0.5


def ref_calclinesrange(lineslist):
    ranges = []
    for line in lineslist:
        y0, y1 = line["bbox"][1], line["bbox"][3]
        for r in ranges:
            if ref_widens(y0, y1, r):
                r[0], r[1] = min(y0, r[0]), max(y1, r[1])
                break
        else:
            ranges.append([y0, y1])
    return sorted([math.floor(r[0] * 10) / 10, math.ceil(r[1] * 10) / 10] for r in ranges)


def ref_sortlines(number, raws):
    records = []
    for r in ref_calclinesrange(raws):
        band = sorted((l for l in raws if ref_holds(l["bbox"][1], l["bbox"][3], r)),
                      key=lambda l: l["bbox"][0])
        chars = [c for l in band for s in l["spans"] for c in s["chars"]]
        records.append({"wmod": 0, "dir": (1.0, 0.0), "page": number,
                        "bbox": (band[0]["bbox"][0], r[0], band[-1]["bbox"][2], r[1]),
                        "chars": chars, "text": "".join(c["c"] for c in chars)})
    return records


def piece(x0, y0, x1, y1, text="ab"):
    width = (x1 - x0) / max(len(text), 1)
    chars = [{"bbox": (x0 + k * width, y0, x0 + (k + 1) * width, y1), "c": c}
             for k, c in enumerate(text)]
    return {"bbox": (x0, y0, x1, y1), "spans": [{"chars": chars}]}


@pytest.fixture(scope="module")
def document():
    return quorl.PdfDocument(pymupdf.open("pdf", generate_patent(1).pdf))


PAGE = types.SimpleNamespace(number=7)


class TestLineRanges:
    def test_close_pieces_share_a_range(self, document):
        lines = [piece(0, 100, 10, 112), piece(0, 108, 10, 120)]
        assert document.calclinesrange(lines) == [[100.0, 120.0]]

    def test_farther_pieces_make_two_ranges_each_read_once(self, document):
        lines = [piece(0, 100, 10, 112, "上"), piece(0, 110, 10, 122, "下")]
        assert document.calclinesrange(lines) == [[100.0, 112.0], [110.0, 122.0]]
        assert [r["text"] for r in document.sortlines(PAGE, lines)] == ["上", "下"]

    def test_bounds_round_outwards_to_tenths(self, document):
        assert document.calclinesrange([piece(0, 100.04, 5, 111.96)]) == [[100.0, 112.0]]
        assert document.calclinesrange([piece(0, -0.04, 5, -0.01)]) == [[-0.1, 0.0]]
        (top, bottom), = document.calclinesrange([piece(0, -0.04, 5, -0.01)])
        assert math.copysign(1, bottom) == 1  # no negative zero, as Python's integers have none

    def test_containment_widens_and_distance_separates(self, document):
        inside = [piece(0, 100, 5, 120), piece(0, 105, 5, 110)]
        around = [piece(0, 105, 5, 110), piece(0, 100, 5, 120)]
        apart = [piece(0, 100, 5, 110), piece(0, 130, 5, 140), piece(0, 80, 5, 90)]
        assert document.calclinesrange(inside) == [[100.0, 120.0]]
        assert document.calclinesrange(around) == [[100.0, 120.0]]
        assert document.calclinesrange(apart) == [[80.0, 90.0], [100.0, 110.0], [130.0, 140.0]]

    def test_widened_ranges_are_never_merged_with_each_other(self, document):
        lines = [piece(0, 100, 5, 110), piece(0, 111, 5, 121), piece(0, 104, 5, 117)]
        # The third piece widens the first range only, which now overlaps the second.
        assert document.calclinesrange(lines) == [[100.0, 117.0], [111.0, 121.0]]

    def test_zero_height_pieces_do_not_divide_by_zero(self, document):
        assert document.calclinesrange([piece(0, 105, 5, 105)]) == [[105.0, 105.0]]
        # Inside a range: merged; outside: a range of its own.
        assert document.calclinesrange(
            [piece(0, 100, 5, 110), piece(0, 105, 5, 105), piece(0, 130, 5, 130)]) == [
            [100.0, 110.0], [130.0, 130.0]]
        # A zero-height range takes only what lies within it, bounds included.
        assert document.calclinesrange(
            [piece(0, 130, 5, 130), piece(0, 130, 5, 130), piece(0, 125, 5, 135)]) == [
            [125.0, 135.0], [130.0, 130.0]]

    def test_non_finite_bounds_fail_like_pythons_rounding(self, document):
        with pytest.raises(ValueError, match="NaN"):
            document.calclinesrange([piece(0, math.nan, 5, 10)])
        with pytest.raises(OverflowError, match="infinity"):
            document.calclinesrange([piece(0, 0, 5, math.inf)])

    def test_bad_pieces_are_python_errors(self, document):
        with pytest.raises(KeyError):
            document.calclinesrange([{"box": (0, 0, 1, 1)}])
        with pytest.raises(TypeError):
            document.calclinesrange([{"bbox": (0, "top", 1, 1)}])
        with pytest.raises(IndexError):
            document.calclinesrange([{"bbox": (0, 1)}])
        with pytest.raises(TypeError):
            document.calclinesrange(5)
        assert document.calclinesrange([]) == []


class TestBands:
    def test_right_piece_reported_first_is_read_second(self, document):
        right, left = piece(60, 100, 90, 112, "右边"), piece(10, 100, 59, 112, "左边")
        (record,) = document.sortlines(PAGE, [right, left])
        assert record["text"] == "左边右边"
        assert record["bbox"] == (10, 100.0, 90, 112.0)

    def test_record_layout_and_shared_character_dicts(self, document):
        lines = [piece(10, 100.04, 50, 111.96, "一二"), piece(60, 100, 90, 112, "三")]
        (record,) = document.sortlines(PAGE, lines)
        assert list(record) == ["wmod", "dir", "page", "bbox", "chars", "text"]
        assert record["wmod"] == 0 and record["dir"] == (1.0, 0.0) and record["page"] == 7
        assert isinstance(record["bbox"], tuple)
        expected = lines[0]["spans"][0]["chars"] + lines[1]["spans"][0]["chars"]
        assert all(a is b for a, b in zip(record["chars"], expected))
        assert len(record["chars"]) == 3 and record["text"] == "一二三"

    def test_bbox_right_edge_is_that_of_the_piece_with_largest_x0(self, document):
        wide, narrow = piece(10, 100, 200, 112, "长"), piece(50, 100, 60, 112, "短")
        (record,) = document.sortlines(PAGE, [wide, narrow])
        assert record["bbox"] == (10, 100.0, 60, 112.0)

    def test_equal_x0_keeps_input_order(self, document):
        first, second = piece(10, 100, 20, 112, "甲"), piece(10, 101, 20, 111, "乙")
        assert document.sortlines(PAGE, [first, second])[0]["text"] == "甲乙"
        assert document.sortlines(PAGE, [second, first])[0]["text"] == "乙甲"

    def test_a_piece_can_sit_in_two_bands(self, document):
        # The tall piece comes last and widens the first range, which then holds the lower
        # piece too; the lower piece's own range holds the tall one as well.
        lines = [piece(10, 100, 20, 110, "上"), piece(10, 118, 20, 128, "下"),
                 piece(30, 96, 40, 132, "高")]
        assert document.calclinesrange(lines) == [[96.0, 132.0], [118.0, 128.0]]
        records = document.sortlines(PAGE, lines)
        assert [r["text"] for r in records] == ["上下高", "下高"]
        assert records[0]["chars"][2] is records[1]["chars"][1]

    def test_lines_come_out_top_to_bottom(self, document):
        lines = [piece(10, 300, 20, 312, "三"), piece(10, 100, 20, 112, "一"),
                 piece(10, 200, 20, 212, "二")]
        assert [r["text"] for r in document.sortlines(PAGE, lines)] == ["一", "二", "三"]

    def test_zero_height_piece_belongs_where_it_lies(self, document):
        flat = piece(50, 105, 60, 105, "扁")
        lines = [piece(10, 100, 40, 110, "左"), flat, piece(10, 140, 40, 150, "外")]
        assert [r["text"] for r in document.sortlines(PAGE, lines)] == ["左扁", "外"]

    def test_no_pieces_no_records(self, document):
        assert document.sortlines(PAGE, []) == []
        assert document.sortlines(None, []) == []  # the page is only asked for its number

    @pytest.mark.parametrize("c,error", [(5, TypeError), (None, TypeError), ("ab", ValueError),
                                         ("", ValueError)])
    def test_each_character_is_one_code_point(self, document, c, error):
        raw = piece(10, 100, 20, 110, "甲乙")
        raw["spans"][0]["chars"][1]["c"] = c
        with pytest.raises(error, match="'c'"):
            document.sortlines(PAGE, [raw])

    def test_override_of_ranges_is_used(self, patent_pdf):
        class BottomUp(quorl.PdfDocument):
            def calclinesrange(self, lineslist):
                return super().calclinesrange(lineslist)[::-1]

        plain = quorl.PdfDocument(pymupdf.open("pdf", patent_pdf))
        upside_down = BottomUp(pymupdf.open("pdf", patent_pdf))
        claims_page = plain.parsedict["claims"]["pages"][0]
        assert upside_down.parse_lines(upside_down.doc[claims_page], upside_down.docmargin) == (
            plain.parse_lines(plain.doc[claims_page], plain.docmargin)[::-1])
        assert upside_down.contents["claims"] == plain.contents["claims"][::-1]

    def test_range_holding_no_piece_is_a_clear_error(self, document):
        class Odd(type(document)):
            def __init__(self):
                pass

            def calclinesrange(self, lineslist):
                return [[500.0, 510.0]]

        with pytest.raises(IndexError, match=r"\[500.0, 510.0\] holds none"):
            Odd().sortlines(PAGE, [piece(10, 100, 20, 110)])


def ref_texts(lines):
    return [r["text"] for r in ref_sortlines(7, lines)]


@pytest.fixture(scope="module")
def patent_pdf():
    return generate_patent(1).pdf


coordinate = st.one_of(st.integers(0, 60).map(float), st.floats(0, 60, allow_nan=False,
                                                                  allow_infinity=False))


@st.composite
def raw_pieces(draw):
    pieces = []
    for k in range(draw(st.integers(0, 12))):
        y0 = draw(coordinate)
        height = draw(st.one_of(st.just(0.0), st.floats(0, 15, allow_nan=False)))
        x0 = draw(st.sampled_from([0.0, 10.0, 20.0, 30.0]))
        pieces.append(piece(x0, y0, x0 + 5, y0 + height, chr(0x4E00 + k)))
    return pieces


class TestAgainstReference:
    @settings(max_examples=300, deadline=None)
    @given(raw_pieces())
    def test_ranges(self, document, pieces):
        assert document.calclinesrange(pieces) == ref_calclinesrange(pieces)

    @settings(max_examples=300, deadline=None)
    @given(raw_pieces())
    def test_records(self, document, pieces):
        got = document.sortlines(PAGE, pieces)
        assert got == ref_sortlines(7, pieces)
        for record in got:
            for top_or_bottom in record["bbox"][1::2]:
                assert math.isclose(round(top_or_bottom * 10), top_or_bottom * 10,
                                    abs_tol=1e-6)


class TestRegions:
    def test_empty_region(self, document):
        assert document.parse_lines(document.doc[1], pymupdf.Rect(0, 800, 10, 810)) == []

    def test_image_alone_in_a_region(self, document):
        page = document.doc[document.parsedict["drawings"]["pages"][0]]
        bbox = pymupdf.Rect(page.get_image_info()[0]["bbox"])
        (record,) = document.parse_lines(page, bbox + (-1, -1, 1, 1))
        assert record["text"] == "#imagefile#"
        assert len(record["chars"]) == 11
        block = [b for b in page.get_text("rawdict")["blocks"] if b["type"] == 1][0]
        assert all(c["bbox"] == block["bbox"] for c in record["chars"])
        assert [c["c"] for c in record["chars"]] == list("#imagefile#")
        assert record["page"] == page.number

    def test_records_hold_pymupdfs_own_character_dicts(self, document):
        page = document.doc[1]
        rawdict = page.get_text("rawdict")
        stored = types.SimpleNamespace(number=page.number, get_text=lambda option: rawdict)
        records = document.parse_lines(stored, document.docmargin)
        own = {id(c) for b in rawdict["blocks"] if b["type"] == 0 for l in b["lines"]
               for s in l["spans"] for c in s["chars"]}
        assert records and all(id(c) in own for r in records for c in r["chars"])
        assert all(r["text"] == "".join(c["c"] for c in r["chars"]) for r in records)

    def test_images_and_text_in_reading_order(self, document):
        drawings = document.parsedict["drawings"]["lines"]
        assert [r["text"] for r in drawings] == ["#imagefile#", "图1", "#imagefile#", "图2"]

    def test_lines_partly_outside_are_left_out(self, document):
        page = document.doc[1]
        header = document.parse_lines(page, document.pagetypemargin)
        assert [r["text"] for r in header] == ["权利要求书"]
        # "CN ... A" and "1/1页" stand in the same band but outside the header region.
        whole_band = document.parse_lines(page, pymupdf.Rect(0, 20, 595, 60))
        assert len(whole_band) == 1 and whole_band[0]["text"].startswith("CN")
        assert whole_band[0]["text"].endswith("页")

    def test_pieces_reported_right_first_on_a_real_page(self):
        patent = generate_patent(9, split_lines=4)
        document = quorl.PdfDocument(pymupdf.open("pdf", patent.pdf))
        for number, index in patent.quirks["split"]:
            page = document.doc[number]
            raw = [l for b in page.get_text("rawdict")["blocks"] if b["type"] == 0
                   for l in b["lines"]]
            text = patent.page_lines[number][index]
            # PyMuPDF reports the right piece before the left one ...
            pieces = [l for l in raw if text.startswith(
                "".join(c["c"] for s in l["spans"] for c in s["chars"])) or text.endswith(
                "".join(c["c"] for s in l["spans"] for c in s["chars"]))]
            pieces = [l for l in pieces if l["bbox"][1] > 60]
            assert len(pieces) >= 2 and pieces[0]["bbox"][0] > pieces[1]["bbox"][0]
            # ... and the line record reads them left to right.
            kind = patent.page_kinds[number]
            assert text in document.contents[kind]

    def test_lines_written_bottom_first(self):
        doc = pymupdf.open()
        first = doc.new_page(width=595, height=842)
        draw_separator(first)
        page = doc.new_page(width=595, height=842)
        write(page, 280, 45, "说明书")
        for y, text in ((300, "第三行"), (100, "第一行"), (200, "第二行")):
            write(page, 70, y, text)
        document = quorl.PdfDocument(pymupdf.open("pdf", finish(doc)))
        assert document.contents["descriptions"] == ["第一行", "第二行", "第三行"]

    def test_overlapping_lines_of_a_real_page(self):
        doc = pymupdf.open()
        first = doc.new_page(width=595, height=842)
        draw_separator(first)
        page = doc.new_page(width=595, height=842)
        write(page, 280, 45, "说明书")
        write(page, 70, 100, "上面一行")  # extent 89.5 to 102.1
        write(page, 70, 111, "下面一行")  # extent 100.5 to 113.1: overlapping, own band
        write(page, 200, 95, "大", 16)  # extent 79 to 98.2, mostly inside the first band
        document = quorl.PdfDocument(pymupdf.open("pdf", finish(doc)))
        assert document.contents["descriptions"] == ["上面一行大", "下面一行"]
        first_band, second_band = document.parsedict["descriptions"]["lines"]
        assert first_band["bbox"][1] <= 79.0 and second_band["bbox"][1] == 100.5

    def test_get_content_by_margin_returns_pymupdfs_line_dicts(self, document):
        page = document.doc[1]
        got = document.get_content_by_margin(page, document.docmargin)
        expected = [l for b in page.get_text("dict")["blocks"] if b["type"] == 0
                    for l in b["lines"] if pymupdf.Rect(l["bbox"]) in document.docmargin]
        assert got == expected and len(got) > 3
        assert list(got[0]) == list(expected[0])
        assert document.get_content_by_margin(page, pymupdf.Rect(0, 0, 1, 1)) == []

    def test_regions_that_are_not_rects_use_their_own_containment(self, document):
        page = document.doc[1]

        class Everything:
            def __contains__(self, rect):
                assert isinstance(rect, pymupdf.Rect)
                return True

        everything = document.parse_lines(page, Everything())
        assert [r["text"] for r in everything] == [
            r["text"] for r in document.parse_lines(page, pymupdf.Rect(0, 0, 595, 842))]
        # A tuple holds no Rect, as Python's `in` says.
        assert document.parse_lines(page, tuple(document.docmargin)) == []
        with pytest.raises(TypeError):
            document.parse_lines(page, 5)

    def test_header_band_image_is_read_as_a_line(self):
        doc = pymupdf.open()
        first = doc.new_page(width=595, height=842)
        draw_separator(first)
        page = doc.new_page(width=595, height=842)
        image(page, (200, 22, 260, 58))
        write(page, 280, 45, "附图")
        document = quorl.PdfDocument(pymupdf.open("pdf", finish(doc)))
        header = document.parse_lines(document.doc[1], document.pagetypemargin)
        assert [r["text"] for r in header] == ["#imagefile#附图"]
        assert document.parsedict["drawings"]["pages"] == [1]
        assert document.getpageimages(1) == []
