"""Positions and rectangles: addrect and getcontentposition, against a plain reading with
PyMuPDF's own Rect union."""
import functools
import logging

import pymupdf
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorl
from patents import generate_patent

NBSP = "\u00a0"


def ref_addrect(lines):
    return functools.reduce(lambda x, y: x | y, [pymupdf.Rect(l["bbox"]) for l in lines])


def ref_positions(lines, pstart, pend, fix=NBSP):
    def newindex(text):
        return [i for i, c in enumerate(text) if c not in fix]

    startline, endline = lines[pstart[0]], lines[pend[0]]
    start, end = -1, None
    if len(newindex(startline["text"])) > pstart[1]:
        start = newindex(startline["text"])[pstart[1]]
    if len(newindex(endline["text"])) > pend[1]:
        end = newindex(endline["text"])[pend[1]]
    if pstart[0] == pend[0]:
        return [(startline["page"], ref_addrect(startline["chars"][start:end]))]
    out = [(startline["page"], ref_addrect(startline["chars"][start:]))]
    for number in range(pstart[0] + 1, pend[0]):
        out.append((lines[number]["page"], ref_addrect(lines[number]["chars"][:])))
    out.append((endline["page"], ref_addrect(endline["chars"][:end])))
    return out


def same(got, expected):
    """Position lists equal coordinate for coordinate (Rect's == allows no slack either)."""
    assert len(got) == len(expected)
    for (page, rect), (ref_page, ref_rect) in zip(got, expected):
        assert page == ref_page
        assert isinstance(rect, pymupdf.Rect)
        assert tuple(rect) == tuple(ref_rect)


def char(x0, x1, c="字", y0=100.0, y1=112.0):
    return {"bbox": (x0, y0, x1, y1), "c": c}


def line_of(text, page=0, x=10.0, y=100.0):
    chars = [char(x + 10 * k, x + 10 * (k + 1), c, y, y + 12) for k, c in enumerate(text)]
    return {"wmod": 0, "dir": (1.0, 0.0), "page": page, "bbox": (x, y, x + 10 * len(text), y + 12),
            "chars": chars, "text": text}


def bare(lines):
    """A PdfDocument holding only the given line records."""
    document = quorl.PdfDocument.__new__(quorl.PdfDocument)
    document.lines = lines
    return document


@pytest.fixture(scope="module")
def patent():
    return generate_patent(21, paragraphs=30, nbsp_lines=5)


@pytest.fixture(scope="module")
def document(patent):
    return quorl.PdfDocument(pymupdf.open("pdf", patent.pdf))


class TestAddrect:
    def test_one_character_is_its_own_box(self, document):
        ch = document.lines[3]["chars"][2]
        rect = document.addrect([ch])
        assert isinstance(rect, pymupdf.Rect) and tuple(rect) == tuple(ch["bbox"])

    def test_line_records_and_character_dicts(self, document):
        for lines in (document.lines[:5], document.lines[7]["chars"]):
            assert tuple(document.addrect(lines)) == tuple(ref_addrect(lines))

    def test_empty_list_logs_and_raises_reduce_error(self, document, caplog):
        with caplog.at_level(logging.ERROR), pytest.raises(Exception, match="^Reduce Error$") as info:
            document.addrect([])
        assert type(info.value) is Exception
        assert isinstance(info.value.__context__, TypeError)
        (record,) = caplog.records
        assert record.levelno == logging.ERROR and record.name == "root"
        assert record.getMessage() == "[]"
        assert record.exc_info[0] is TypeError
        assert "reduce() of empty iterable" in caplog.text

    def test_bad_items_become_reduce_errors(self, document, caplog):
        items = [{"bbox": (0, 0, 1, 1)}, {"box": (0, 0, 1, 1)}]
        with caplog.at_level(logging.ERROR), pytest.raises(Exception, match="Reduce Error") as info:
            document.addrect(items)
        assert isinstance(info.value.__context__, KeyError)
        assert caplog.records[0].getMessage() == repr(items)
        assert "KeyError: 'bbox'" in caplog.text
        caplog.clear()
        # A failure inside PyMuPDF's Rect is logged with the traceback of its Python frames.
        with caplog.at_level(logging.ERROR), pytest.raises(Exception, match="Reduce Error"):
            document.addrect([{"bbox": "abcd"}])
        assert "Traceback" in caplog.text and "pymupdf" in caplog.text
        for bad in ([5], [{"bbox": "abcd"}], [{"bbox": (0, 0, 1, 1)}, {"bbox": (0, 0, 4e38, 1)}],
                    None):
            with pytest.raises(Exception, match="Reduce Error"):
                document.addrect(bad)

    def test_handled_exception_outside_is_left_alone(self, document):
        try:
            raise ValueError("outer")
        except ValueError as outer:
            with pytest.raises(Exception, match="Reduce Error") as info:
                document.addrect([])
            assert isinstance(info.value.__context__, TypeError)
            import sys

            assert sys.exc_info()[1] is outer

    boxes = st.tuples(*[st.one_of(st.floats(-50, 900, allow_nan=False), st.integers(-50, 900),
                                  st.sampled_from([0.1, 0.2, 0.3, 100.0]))] * 4)

    @settings(max_examples=400, deadline=None)
    @given(st.lists(boxes, min_size=1, max_size=8))
    def test_union_matches_pymupdf(self, document, boxes):
        items = [{"bbox": b} for b in boxes]
        assert tuple(document.addrect(items)) == tuple(ref_addrect(items))

    def test_union_with_the_infinite_rectangle(self, document):
        infinite = tuple(pymupdf.INFINITE_RECT())
        items = [{"bbox": (0, 0, 1, 1)}, {"bbox": infinite}, {"bbox": (5, 5, 6, 6)}]
        rect = document.addrect(items)
        assert rect.is_infinite and rect == ref_addrect(items)


class TestOneLine:
    def test_stretch_inside_a_line(self, document, caplog):
        line = next(l for l in document.lines if len(l["text"]) > 20 and NBSP not in l["text"])
        number = document.lines.index(line)
        with caplog.at_level(logging.WARNING):
            (place,) = document.getcontentposition((number, 3), (number, 9))
        assert caplog.records == []
        page, rect = place
        assert page == line["page"]
        assert tuple(rect) == tuple(ref_addrect(line["chars"][3:9]))
        assert rect.x0 == line["chars"][3]["bbox"][0] and rect.x1 == line["chars"][8]["bbox"][2]

    def test_no_break_space_is_skipped_by_offsets(self):
        document = bare([line_of("a" + NBSP + "b")])
        # The end offset 1 is chars[2]: the stretch takes the no-break space along.
        (_, rect), = document.getcontentposition((0, 0), (0, 1))
        assert tuple(rect) == (10, 100, 30, 112)
        (_, rect), = document.getcontentposition((0, 1), (0, 2))
        assert tuple(rect) == (30, 100, 40, 112)  # offset 1 is chars[2]
        (_, rect), = document.getcontentposition((0, 0), (0, 2))
        assert tuple(rect) == (10, 100, 40, 112)

    def test_end_at_line_end_and_start_beyond_it(self):
        document = bare([line_of("abcd")])
        (_, rect), = document.getcontentposition((0, 1), (0, 4))
        assert tuple(rect) == (20, 100, 50, 112)
        (_, rect), = document.getcontentposition((0, 6), (0, 9))
        assert tuple(rect) == (40, 100, 50, 112)  # the last character

    def test_empty_stretch_is_a_reduce_error(self, caplog):
        document = bare([line_of("abcd")])
        for start, end in ((2, 2), (3, 1)):
            with pytest.raises(Exception, match="Reduce Error"):
                document.getcontentposition((0, start), (0, end))
        assert [r.levelno for r in caplog.records] == [logging.ERROR, logging.ERROR]

    def test_custom_fix(self):
        document = bare([line_of("xaybz")])
        # Shown text xyz: offset 1 is y (chars[2]), offset 2 is z (chars[4]).
        (_, rect), = document.getcontentposition((0, 1), (0, 2), fix="ab")
        assert tuple(rect) == (30, 100, 50, 112)
        (_, rect), = document.getcontentposition((0, 1), (0, 2), fix=["a", "b"])
        assert tuple(rect) == (30, 100, 50, 112)
        (_, rect), = document.getcontentposition((0, 1), (0, 2), fix="")
        assert tuple(rect) == (20, 100, 30, 112)

    def test_offsets_follow_python_indexing(self):
        document = bare([line_of("abcd")])
        (_, rect), = document.getcontentposition((0, -2), (0, 4))
        assert tuple(rect) == (30, 100, 50, 112)
        (_, rect), = document.getcontentposition((0, True), (0, 10 ** 30))
        assert tuple(rect) == (20, 100, 50, 112)
        with pytest.raises(IndexError):
            document.getcontentposition((0, -9), (0, 4))
        with pytest.raises(TypeError):
            document.getcontentposition((0, 1.5), (0, 4))
        with pytest.raises(TypeError):
            document.getcontentposition((0, "1"), (0, 4))
        # A non-integer beyond the end falls back like an integer would.
        (_, rect), = document.getcontentposition((0, 0), (0, 7.5))
        assert tuple(rect) == (10, 100, 50, 112)


class TestSeveralLines:
    def test_three_lines(self, document, caplog):
        number = 5
        first, middle, last = document.lines[number:number + 3]
        with caplog.at_level(logging.WARNING):
            places = document.getcontentposition((number, 2), (number + 2, 3))
        assert [r.getMessage() for r in caplog.records] == ["Get multilines"]
        assert [p for p, _ in places] == [first["page"], middle["page"], last["page"]]
        assert tuple(places[0][1]) == tuple(ref_addrect(first["chars"][2:]))
        assert tuple(places[1][1]) == tuple(ref_addrect(middle["chars"]))
        assert tuple(places[2][1]) == tuple(ref_addrect(last["chars"][:3]))

    def test_stretch_over_a_page_break(self, document):
        lines = document.lines
        number = next(i for i in range(len(lines) - 1) if lines[i]["page"] != lines[i + 1]["page"])
        (page_a, rect_a), (page_b, rect_b) = document.getcontentposition(
            (number, 0), (number + 1, 2))
        assert page_a == lines[number]["page"] != page_b == lines[number + 1]["page"]
        for page, rect in ((page_a, rect_a), (page_b, rect_b)):
            assert rect in document.doc[page].rect

    def test_zero_end_offset_on_the_last_line(self):
        document = bare([line_of("ab"), line_of("cd")])
        with pytest.raises(Exception, match="Reduce Error"):
            document.getcontentposition((0, 0), (1, 0))
        document = bare([line_of("ab"), line_of(NBSP + "cd")])
        places = document.getcontentposition((0, 0), (1, 0))
        assert tuple(places[1][1]) == (10, 100, 20, 112)  # the no-break space only

    def test_line_outside_the_document(self, document, caplog):
        with caplog.at_level(logging.WARNING), pytest.raises(IndexError):
            document.getcontentposition((len(document.lines), 0), (len(document.lines), 1))
        assert caplog.records == []

    def test_overridden_addrect_is_used(self, patent):
        class Boxes(quorl.PdfDocument):
            def addrect(self, lines):
                return len(lines)

        document = Boxes(pymupdf.open("pdf", patent.pdf))
        places = document.getcontentposition((4, 1), (6, 2))
        assert [count for _, count in places] == [
            len(document.lines[4]["chars"]) - 1, len(document.lines[5]["chars"]), 2]


class TestAgainstReference:
    @settings(max_examples=300, deadline=None)
    @given(data=st.data())
    def test_positions(self, document, data):
        count = len(document.lines)
        first = data.draw(st.integers(0, count - 1))
        last = data.draw(st.integers(first, min(count - 1, first + 4)))
        start = data.draw(st.integers(-3, len(document.lines[first]["text"]) + 3))
        end = data.draw(st.integers(-3, len(document.lines[last]["text"]) + 3))
        try:
            expected = ref_positions(document.lines, (first, start), (last, end))
        except TypeError:  # reduce() of an empty selection
            with pytest.raises(Exception, match="Reduce Error"):
                document.getcontentposition((first, start), (last, end))
        except IndexError:
            with pytest.raises(IndexError):
                document.getcontentposition((first, start), (last, end))
        else:
            same(document.getcontentposition((first, start), (last, end)), expected)

    def test_every_no_break_space_line(self, patent, document):
        for number, index in patent.quirks["nbsp"]:
            text = patent.page_lines[number][index]
            line_no = next(i for i, l in enumerate(document.lines) if l["text"] == text)
            shown = len(text.replace(NBSP, ""))
            for start in range(0, shown, 3):
                for end in range(start + 1, shown + 1, 4):
                    same(document.getcontentposition((line_no, start), (line_no, end)),
                         ref_positions(document.lines, (line_no, start), (line_no, end)))
