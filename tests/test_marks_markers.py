"""The Marker family: construction, the abstract operations, and what each kind draws where."""
import abc
import contextlib
import math
import os
import sys
from types import SimpleNamespace

import pymupdf
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorl

sys.path.insert(0, os.path.dirname(__file__))
import patents  # noqa: E402

PRIMITIVES = ("_add_highlight_mark", "_add_num_mark", "_add_flag_mark")
KINDS = [quorl.CTHMarker, quorl.PARMarker, quorl.ImgPARMarker, quorl.ImgIGMarker, quorl.FlagMarker]


@contextlib.contextmanager
def recording(forward=True):
    """Records every call of the annotation primitives the markers make, in order; with
    `forward` the real primitive draws as well."""
    log = []
    saved = {name: getattr(quorl, name) for name in PRIMITIVES}

    def recorder(name, real):
        def record(*args, **kwargs):
            log.append(SimpleNamespace(name=name, args=args, kwargs=kwargs))
            if forward:
                return real(*args, **kwargs)

        return record

    try:
        for name, real in saved.items():
            setattr(quorl, name, recorder(name, real))
        yield log
    finally:
        for name, real in saved.items():
            setattr(quorl, name, real)


def new_doc(pages=3):
    doc = pymupdf.open()
    for _ in range(pages):
        doc.new_page()
    return doc


def read_back(doc):
    """Per page of the written document, what its annotations hold."""
    out = pymupdf.open("pdf", doc.tobytes())
    pages = []
    for page in out:
        found = []
        for a in page.annots():
            kind, fill = out.xref_get_key(a.xref, "C")
            found.append(
                SimpleNamespace(
                    type=a.type[1],
                    rect=tuple(a.rect),
                    subject=a.info["subject"],
                    title=a.info["title"],
                    content=a.info["content"],
                    da=out.xref_get_key(a.xref, "DA")[1],
                    fill=fill,
                )
            )
        pages.append(found)
    return pages


def font(da):
    """Text colour, font name and size of a default-appearance string."""
    tokens = da.split()
    colour = tuple(float(t) for t in tokens[: tokens.index("rg")])
    return colour, tokens[tokens.index("Tf") - 2], float(tokens[tokens.index("Tf") - 1])


def approx_box(box):
    return pytest.approx(tuple(box), abs=1e-3)


# The markers' geometry written out in Python, as the oracle for the C++ computations.
def reference_region(info):
    poslist = info.split("#")[1].split("$")[0].split(",")
    x, y, w, h = poslist[:4]
    return [int(v) / 1000 for v in (x, y, w, h)]


def reference_number_label(rect, title):
    mcenter = (rect.x0 + rect.x1) / 2
    mwidth = int(math.log(10)) * len(title)
    return [mcenter - mwidth - 5, rect.y0 - 8, mcenter + mwidth + 5, rect.y0 - 0]


def reference_image_number_label(r, info, title):
    x, y, w, h = reference_region(info)
    x0 = r[0] + (r[2] - r[0]) * x
    x1 = x0 + max((r[2] - r[0]) * w, 8)
    y0 = r[1] + (r[3] - r[1]) * y
    y1 = y0 + max((r[3] - r[1]) * h, 15)
    mwidth = int(math.log(10)) * len(title)
    return (x1 - mwidth - 5, y0, x1 + mwidth + 5, y1)


def reference_image_content_label(r, info, content):
    x, y, w, h = reference_region(info)
    x0 = r[0] + (r[2] - r[0]) * x
    x1 = x0 + (r[2] - r[0]) * w
    y0 = r[1] + (r[3] - r[1]) * y
    mwidth = int(math.log(10)) * len(content) * 1.5
    return (x1 - mwidth - 5, y0, x1 + mwidth + 5, y0 + 15)


def outcome(call):
    """The result of `call()`, or the type and message of what it raised."""
    try:
        return ("ok", call())
    except Exception as error:  # noqa: BLE001 - the exception itself is compared
        return (type(error), str(error))


class TestMarkerBase:
    def test_constructor_sets_the_five_attributes_in_order(self):
        position = [(0, pymupdf.Rect(1, 2, 3, 4))]
        info = ["EQUAL"]
        marker = quorl.Marker(7, "abc", position, info)
        assert list(vars(marker)) == ["mid", "title", "content", "position", "info"]
        assert marker.mid is None
        assert marker.title == "7"
        assert marker.content == "abc"
        # Stored as the very objects passed, not copies.
        assert marker.position is position
        assert marker.info is info

    def test_info_defaults_to_the_empty_string_and_keywords_work(self):
        marker = quorl.Marker(title="t", content=None, position=[])
        assert marker.info == ""
        assert marker.content is None
        assert quorl.PARMarker("1", "c", [], info="EQUAL").info == "EQUAL"

    def test_missing_or_unknown_arguments_are_type_errors(self):
        with pytest.raises(TypeError):
            quorl.Marker("t", "c")
        with pytest.raises(TypeError):
            quorl.Marker("t", "c", [], "", "extra")
        with pytest.raises(TypeError):
            quorl.ImgPARMarker("t", "c", [], colour="red")

    @pytest.mark.parametrize("cls", [quorl.Marker] + KINDS)
    def test_str(self, cls):
        assert str(cls(3, "abc", [])) == f"<<class 'quorl.{cls.__name__}'> 3 object of abc>"

    def test_str_names_a_python_subclass(self):
        class Custom(quorl.PARMarker):
            pass

        assert str(Custom(3, "abc", [])) == f"<{Custom!r} 3 object of abc>"

    def test_classes_are_ordinary_with_the_published_bases_and_method_order(self):
        assert type(quorl.Marker) is type
        assert quorl.Marker.__bases__ == (object,)
        assert all(cls.__bases__ == (quorl.Marker,) for cls in KINDS)
        assert all(cls.__module__ == "quorl" for cls in [quorl.Marker] + KINDS)

        def methods(cls):
            return [k for k, v in vars(cls).items() if callable(v)]

        assert methods(quorl.Marker) == ["__init__", "__str__", "setmarker", "getmarker", "addmarker"]
        for cls in (quorl.CTHMarker, quorl.PARMarker, quorl.FlagMarker):
            assert methods(cls) == ["setmarker", "getmarker", "addmarker"]
        for cls in (quorl.ImgPARMarker, quorl.ImgIGMarker):
            assert methods(cls) == ["__init__", "setmarker", "getmarker", "addmarker"]

    @pytest.mark.parametrize("name", ["setmarker", "getmarker", "addmarker"])
    def test_operations_are_flagged_abstract_but_nothing_is_enforced(self, name):
        method = getattr(quorl.Marker, name)
        assert method.__isabstractmethod__ is True
        assert method.__name__ == name
        assert method.__qualname__ == f"Marker.{name}"
        assert method.__doc__ is None
        marker = quorl.Marker("t", "c", [])
        assert getattr(marker, name).__isabstractmethod__ is True
        assert getattr(marker, name).__self__ is marker
        assert not hasattr(quorl.Marker, "__abstractmethods__")
        for cls in KINDS:
            assert not getattr(getattr(cls, name), "__isabstractmethod__", False)

    def test_the_flags_are_what_abcmeta_reads(self):
        # A subclass made an ABC inherits no abstract names from a plain class, as in Python...
        class Strict(quorl.Marker, metaclass=abc.ABCMeta):
            pass

        assert Strict.__abstractmethods__ == frozenset()
        assert Strict("t", "c", []).getmarker() is None

        # ...but the operations themselves, in an ABC's own body, are abstract to ABCMeta.
        namespace = {n: getattr(quorl.Marker, n) for n in ("setmarker", "getmarker", "addmarker")}
        Interface = abc.ABCMeta("Interface", (), namespace)
        assert Interface.__abstractmethods__ == {"setmarker", "getmarker", "addmarker"}
        with pytest.raises(TypeError, match="abstract"):
            Interface()

    def test_base_operations_do_nothing(self):
        doc = new_doc()
        marker = quorl.Marker("t", "c", [(0, pymupdf.Rect(10, 10, 50, 20))], "EQUAL")
        before = dict(vars(marker))
        assert marker.setmarker(object()) is None
        assert marker.getmarker() is None
        assert marker.addmarker(doc) is None
        assert quorl.Marker.setmarker(marker, 1) is None
        assert vars(marker) == before
        assert read_back(doc) == [[], [], []]

    @pytest.mark.parametrize("cls", KINDS)
    def test_kinds_return_their_title_and_ignore_setmarker(self, cls):
        marker = cls(12, "content", [])
        assert marker.getmarker() == "12"
        assert marker.setmarker({"any": "thing"}) is None
        assert marker.getmarker() == "12"

    @pytest.mark.parametrize("cls", [quorl.Marker] + KINDS)
    def test_methods_have_no_docstring(self, cls):
        for name in ("__init__", "setmarker", "getmarker", "addmarker"):
            assert getattr(cls, name).__doc__ is None


class TestImageMarkerConstruction:
    @pytest.mark.parametrize("cls", [quorl.ImgPARMarker, quorl.ImgIGMarker])
    def test_arguments_pass_through_and_imageinfo_comes_last(self, cls):
        position = [(0, pymupdf.Rect(1, 2, 3, 4))]
        marker = cls(5, "fig", position, info="imagenote#1,2,3,4$")
        assert list(vars(marker)) == ["mid", "title", "content", "position", "info", "imageinfo"]
        assert (marker.title, marker.content, marker.info) == ("5", "fig", "imagenote#1,2,3,4$")
        assert marker.position is position
        assert marker.imageinfo is None

    def test_the_base_constructor_is_reached_through_super(self):
        calls = []

        class Recording(quorl.Marker):
            def __init__(self, *args, **kwargs):
                calls.append((args, kwargs))
                super().__init__(*args, **kwargs)

        class Combined(quorl.ImgPARMarker, Recording):
            pass

        marker = Combined("t", "c", [], info="x")
        assert calls == [(("t", "c", []), {"info": "x"})]
        assert marker.imageinfo is None and marker.info == "x"

    def test_self_must_be_an_instance(self):
        with pytest.raises(TypeError):
            quorl.ImgIGMarker.__init__(object(), "t", "c", [])


class TestCTHMarker:
    def test_one_highlight_per_line_with_the_same_record(self):
        doc = new_doc()
        position = [
            (0, pymupdf.Rect(100, 700, 400, 712)),
            (0, pymupdf.Rect(60, 716, 300, 728)),
            (1, pymupdf.Rect(60, 60, 200, 72)),
        ]
        with recording() as calls:
            assert quorl.CTHMarker("1", "some text", position, None).addmarker(doc) is None
        assert [c.name for c in calls] == ["_add_highlight_mark"] * 3
        assert [c.args[1] for c in calls] == [rect for _, rect in position]
        assert all(c.args[2] is calls[0].args[2] for c in calls)
        assert calls[0].args[2] == {"subject": "Highlight", "title": "vexil", "content": "some text"}
        pages = read_back(doc)
        assert [len(p) for p in pages] == [2, 1, 0]
        for annot in pages[0] + pages[1]:
            assert (annot.type, annot.subject, annot.title, annot.content) == (
                "Highlight", "Highlight", "vexil", "some text")

    def test_empty_position_draws_nothing(self):
        doc = new_doc()
        quorl.CTHMarker("1", "c", []).addmarker(doc)
        assert read_back(doc) == [[], [], []]


class TestPARMarker:
    def test_label_box_of_the_example(self):
        doc = new_doc()
        rect = pymupdf.Rect(100, 400, 300, 412)
        with recording() as calls:
            quorl.PARMarker(7, "text", [(0, rect)]).addmarker(doc)
        assert [c.name for c in calls] == ["_add_highlight_mark", "_add_num_mark"]
        label = calls[1]
        assert type(label.args[1]) is list
        assert label.args[1] == [193, 392, 207, 400]
        assert label.args[2] == {"subject": "SingleNUM", "title": "vexil", "content": "7"}
        assert list(label.args[2]) == ["subject", "title", "content"]
        assert label.kwargs == {}
        (highlight, number) = read_back(doc)[0]
        assert number.rect == approx_box((193, 392, 207, 400))
        assert (number.type, number.subject, number.content) == ("FreeText", "SingleNUM", "7")
        assert font(number.da) == ((1, 0, 0), "/Helv", 9)
        assert highlight.content == "text"

    @pytest.mark.parametrize(
        "title, info, subject, content",
        [
            ("12-14", "", "Range", "12-14"),
            ("12-14", "see EQUAL here", "Duplicate", "=12-14"),
            ("12", "EQUAL", "Duplicate", "=12"),
            ("12", "equal", "SingleNUM", "12"),
            ("12", ["EQUAL"], "Duplicate", "=12"),
        ],
    )
    def test_label_kinds(self, title, info, subject, content):
        doc = new_doc()
        quorl.PARMarker(title, "text", [(0, pymupdf.Rect(100, 400, 300, 412))], info).addmarker(doc)
        number = read_back(doc)[0][1]
        assert (number.subject, number.title, number.content) == (subject, "vexil", content)

    def test_three_lines_on_two_pages_get_one_label_above_the_first(self):
        doc = new_doc()
        position = [
            (0, pymupdf.Rect(300, 750, 500, 762)),
            (0, pymupdf.Rect(60, 766, 500, 778)),
            (1, pymupdf.Rect(60, 60, 120, 72)),
        ]
        with recording() as calls:
            quorl.PARMarker("3", "text", position).addmarker(doc)
        assert [(c.name, c.args[1]) for c in calls] == [
            ("_add_highlight_mark", position[0][1]),
            ("_add_num_mark", [393, 742, 407, 750]),
            ("_add_highlight_mark", position[1][1]),
            ("_add_highlight_mark", position[2][1]),
        ]
        pages = read_back(doc)
        assert [[a.type for a in p] for p in pages] == [
            ["Highlight", "FreeText", "Highlight"], ["Highlight"], []]

    def test_info_without_membership_fails_before_drawing(self):
        doc = new_doc()
        with pytest.raises(TypeError):
            quorl.PARMarker("1", "t", [(0, pymupdf.Rect(1, 2, 30, 40))], None).addmarker(doc)
        assert read_back(doc) == [[], [], []]

    def test_a_rect_without_attributes_fails_after_its_highlight(self):
        doc = new_doc()
        with pytest.raises(AttributeError):
            quorl.PARMarker("1", "t", [(0, (100, 400, 300, 412))]).addmarker(doc)
        assert [a.type for a in read_back(doc)[0]] == ["Highlight"]

    def test_bad_page_number_propagates_the_document_error(self):
        doc = new_doc()
        with pytest.raises(IndexError):
            quorl.PARMarker("1", "t", [(7, pymupdf.Rect(1, 2, 30, 40))]).addmarker(doc)
        assert read_back(doc) == [[], [], []]


    @settings(max_examples=200, deadline=None)
    @given(
        st.tuples(*[st.floats(-1e6, 1e6, allow_nan=False)] * 4),
        st.text(max_size=12),
    )
    def test_label_box_is_the_formula(self, edges, title):
        rect = pymupdf.Rect(*edges)
        with recording(forward=False) as calls:
            quorl.PARMarker(title, "t", [(0, rect)]).addmarker([None])
        assert calls[1].args[1] == reference_number_label(rect, title)



@pytest.mark.parametrize("cls", KINDS)
class TestPageNumbers:
    def test_negative_numbers_count_from_the_end(self, cls):
        doc = new_doc()
        cls("1", "t", [(-1, pymupdf.Rect(100, 400, 300, 412))]).addmarker(doc)
        drawn = [len(p) for p in read_back(doc)]
        assert drawn[2] > 0 and drawn[0] == 0

    @pytest.mark.parametrize("number", [-4, -(10**30), 3, 10**30])
    def test_numbers_outside_the_document_are_index_errors(self, cls, number):
        # PyMuPDF itself would wrap -4 around to page 2 and loop for ages over -10**30.
        doc = new_doc()
        with pytest.raises(IndexError, match="not in document"):
            cls("1", "t", [(number, pymupdf.Rect(100, 400, 300, 412))]).addmarker(doc)
        # Only a flag mark draws before it reaches the position: its claims flag.
        assert sum(len(p) for p in read_back(doc)) == (1 if cls is quorl.FlagMarker else 0)

    def test_any_indexable_document(self, cls):
        with recording(forward=False) as calls:
            cls("1", "t", [(-2, pymupdf.Rect(100, 400, 300, 412))]).addmarker(["p0", "p1", "p2"])
        assert calls[-1].args[0] == "p1"


REGION_INFOS = [
    "imagenote",
    "imagenote#",
    "imagenote#1,2,3",
    "imagenote#1,2,3,4",
    "imagenote#1,2,3,4,5,x$ignored",
    "imagenote# 100 , -200,+300,4_00$",
    "imagenote#12.5,1,2,3$",
    "imagenote#,1,2,3$",
    "imagenote#1__0,1,2,3$",
    "imagenote#x,1$",
    "imagenote#١٢,\u30007\u3000,3,4$",
    "prefix#100,200,300,400#imagenote",
    "imagenote$#100,200,300,400$",
    "imagenote#99999999999999999999999,1,2,3",
]


@pytest.mark.parametrize("info", REGION_INFOS)
@pytest.mark.parametrize(
    "cls, reference",
    [(quorl.ImgPARMarker, reference_image_number_label),
     (quorl.ImgIGMarker, reference_image_content_label)],
    ids=["ImgPARMarker", "ImgIGMarker"],
)
def test_region_parsing_and_its_errors_are_the_interpreters(cls, reference, info):
    rect = pymupdf.Rect(100, 200, 300, 400)
    expected = outcome(lambda: reference(rect, info, "A1"))
    with recording(forward=False) as calls:
        got = outcome(lambda: cls("A1", "A1", [(0, rect)], info).addmarker([0]))
    if expected[0] == "ok":
        assert got == ("ok", None)
        assert calls[0].args[1] == expected[1]
    else:
        assert got == expected
        assert calls == []


class TestImgPARMarker:
    FIGURE = (100, 200, 300, 400)

    def test_label_box_of_the_example(self):
        doc = new_doc()
        with recording() as calls:
            quorl.ImgPARMarker(
                7, "fig", [(0, pymupdf.Rect(self.FIGURE))], "imagenote#100,200,300,400$"
            ).addmarker(doc)
        (label,) = calls
        assert label.name == "_add_num_mark"
        assert type(label.args[1]) is tuple
        assert label.args[1] == pytest.approx((173, 240, 187, 320))
        assert label.args[2] == {"subject": "SingleNUM", "title": "vexil", "content": "7"}
        assert label.kwargs == {}
        (number,) = read_back(doc)[0]
        assert number.rect == approx_box((173, 240, 187, 320))
        assert font(number.da) == ((1, 0, 0), "/Helv", 9)

    def test_small_regions_are_widened_and_heightened(self):
        with recording(forward=False) as calls:
            quorl.ImgPARMarker(
                "7", "f", [(0, pymupdf.Rect(self.FIGURE))], "imagenote#100,200,10,20"
            ).addmarker([None])
        # Region from x 120, y 240: 2 x 4 points, made 8 x 15.
        assert calls[0].args[1] == pytest.approx((121, 240, 135, 255))

    def test_without_imagenote_the_label_is_the_whole_first_rectangle(self):
        rect = pymupdf.Rect(self.FIGURE)
        with recording(forward=False) as calls:
            quorl.ImgPARMarker("7", "f", [(2, rect), (0, pymupdf.Rect(0, 0, 9, 9))],
                               "#1,x#").addmarker(["p0", "p1", "p2"])
            quorl.ImgPARMarker("8", "f", [(1, rect)]).addmarker(["p0", "p1"])
        assert [(c.args[0], c.args[1]) for c in calls] == [("p2", rect), ("p1", rect)]
        assert all(c.args[1] is rect for c in calls)

    def test_equal_and_range(self):
        rect = pymupdf.Rect(self.FIGURE)
        with recording(forward=False) as calls:
            quorl.ImgPARMarker("3-5", "f", [(0, rect)], "EQUAL imagenote#0,0,0,0$").addmarker([0])
            quorl.ImgPARMarker("3-5", "f", [(0, rect)]).addmarker([0])
        assert calls[0].args[2] == {"subject": "Duplicate", "title": "vexil", "content": "=3-5"}
        assert calls[1].args[2] == {"subject": "Range", "title": "vexil", "content": "3-5"}

    def test_info_and_position_errors(self):
        with pytest.raises(TypeError):
            quorl.ImgPARMarker("7", "f", [(0, pymupdf.Rect(self.FIGURE))], None).addmarker([0])
        with pytest.raises(IndexError):
            quorl.ImgPARMarker("7", "f", []).addmarker([0])
        with pytest.raises(AttributeError):
            quorl.ImgPARMarker("7", "f", [(0, pymupdf.Rect(self.FIGURE))], ["imagenote"]).addmarker(
                [0])

    def test_a_non_string_info_splits_its_own_way(self):
        class Note(str):
            pass

        rect = pymupdf.Rect(self.FIGURE)
        with recording(forward=False) as calls:
            quorl.ImgPARMarker("7", "f", [(0, rect)], Note("imagenote#100,200,300,400$")).addmarker(
                [0])
        assert calls[0].args[1] == reference_image_number_label(
            rect, "imagenote#100,200,300,400$", "7")


class TestImgIGMarker:
    FIGURE = (100, 200, 300, 400)

    def test_label_box_of_the_example(self):
        doc = new_doc()
        with recording() as calls:
            quorl.ImgIGMarker(
                7, "12", [(0, pymupdf.Rect(self.FIGURE))], "imagenote#100,200,300,400$ EQUAL"
            ).addmarker(doc)
        (label,) = calls
        assert label.args[1] == pytest.approx((169, 240, 191, 255))
        assert label.args[2] == {"subject": "IGseq", "title": "vexil", "content": "12"}
        assert label.kwargs == {"tsize": 14, "tcolor": (0.5, 0, 0.5)}
        (number,) = read_back(doc)[0]
        assert number.rect == approx_box((169, 240, 191, 255))
        assert (number.subject, number.content) == ("IGseq", "12")
        assert font(number.da) == ((0.5, 0, 0.5), "/Helv", 14)
        assert [float(v) for v in number.fill.strip("[]").split()] == [1, 1, 1]

    def test_no_minimum_width_and_always_fifteen_points_tall(self):
        with recording(forward=False) as calls:
            quorl.ImgIGMarker("7", "ab", [(0, pymupdf.Rect(self.FIGURE))],
                              "imagenote#100,200,0,900").addmarker([0])
        # Region edge at x 120 (no width), top at y 240; content of 2 characters: 6 points.
        assert calls[0].args[1] == pytest.approx((109, 240, 131, 255))

    def test_without_imagenote_the_label_is_the_whole_first_rectangle(self):
        rect = pymupdf.Rect(self.FIGURE)
        with recording(forward=False) as calls:
            quorl.ImgIGMarker("7", "图1", [(0, rect), (1, rect)]).addmarker(["p0", "p1"])
        (label,) = calls
        assert label.args[:2] == ("p0", rect) and label.args[1] is rect

    def test_content_without_length_fails_only_for_a_region(self):
        rect = pymupdf.Rect(self.FIGURE)
        with pytest.raises(TypeError):
            quorl.ImgIGMarker("7", 12, [(0, rect)], "imagenote#1,2,3,4").addmarker([0])

    @settings(max_examples=300, deadline=None)
    @given(
        st.tuples(*[st.floats(-1e4, 1e4, allow_nan=False)] * 4),
        st.text(alphabet="0123456789-+_ ,#$.x\u0661\u3000\t", max_size=30),
        st.text(max_size=6),
    )
    def test_both_image_labels_are_the_formulas(self, edges, region, text):
        rect = pymupdf.Rect(*edges)
        info = "imagenote#" + region
        for cls, reference in (
            (quorl.ImgPARMarker, lambda: reference_image_number_label(rect, info, text)),
            (quorl.ImgIGMarker, lambda: reference_image_content_label(rect, info, text)),
        ):
            expected = outcome(reference)
            with recording(forward=False) as calls:
                got = outcome(lambda: cls(text, text, [(0, rect)], info).addmarker([0]))
            if expected[0] == "ok":
                assert calls[0].args[1] == expected[1]
            else:
                assert got == expected


class TestFlagMarker:
    def test_claims_flag_then_the_examples_flag(self):
        doc = new_doc()
        rect = pymupdf.Rect(80, 300, 400, 312)
        position = [(2, rect), (0, pymupdf.Rect(1, 2, 3, 4))]
        with recording() as calls:
            quorl.FlagMarker("1", "实施例", position).addmarker(doc)
        claims, examples = calls
        assert claims.args[0].number == 1
        assert claims.args[1:] == (
            (500, 30, 560, 45), {"subject": "Flag", "title": "vexil", "content": "Claims"})
        assert claims.kwargs == {"fcolor": (1, 0.4, 0.4)}
        assert examples.args[0].number == 2
        assert examples.args[1] is rect
        assert examples.args[2] == {"subject": "Flag", "title": "vexil", "content": "实施例"}
        assert examples.kwargs == {"fcolor": (0.52, 0.64, 1)}
        # The marker's own rectangle was moved to the flag column.
        assert position[0][1] is rect
        assert tuple(rect) == (500, 300, 560, 315)
        pages = read_back(doc)
        (claims_flag,) = pages[1]
        assert claims_flag.rect == approx_box((500, 30, 560, 45))
        assert (claims_flag.content, claims_flag.subject, claims_flag.title) == ("Claims", "", "")
        assert [float(v) for v in claims_flag.fill.strip("[]").split()] == [1, 0.4, 0.4]
        (examples_flag,) = pages[2]
        assert examples_flag.rect == approx_box((500, 300, 560, 315))
        assert examples_flag.content == "实施例"
        assert [float(v) for v in examples_flag.fill.strip("[]").split()] == [0.52, 0.64, 1]
        assert font(examples_flag.da) == ((0, 0, 0), "/Helv", 10)
        assert pages[0] == []

    def test_every_flag_mark_draws_its_own_claims_flag(self):
        doc = new_doc()
        quorl.FlagMarker("1", "A", [(0, pymupdf.Rect(60, 100, 300, 112))]).addmarker(doc)
        quorl.FlagMarker("2", "B", [(0, pymupdf.Rect(60, 200, 300, 212))]).addmarker(doc)
        pages = read_back(doc)
        assert [a.content for a in pages[1]] == ["Claims", "Claims"]
        assert pages[1][0].rect == pages[1][1].rect
        assert [a.content for a in pages[0]] == ["A", "B"]

    def test_a_list_rectangle_is_changed_in_place(self):
        box = [80, 300, 400, 312]
        with recording(forward=False):
            quorl.FlagMarker("1", "A", [(0, box)]).addmarker(["p0", "p1"])
        assert box == [500, 300, 560, 315]

    def test_a_one_page_document_fails_before_drawing(self):
        doc = new_doc(pages=1)
        with pytest.raises(IndexError):
            quorl.FlagMarker("1", "A", [(0, pymupdf.Rect(60, 100, 300, 112))]).addmarker(doc)
        assert read_back(doc) == [[]]

    def test_position_errors_come_after_the_claims_flag(self):
        doc = new_doc()
        with pytest.raises(IndexError):
            quorl.FlagMarker("1", "A", []).addmarker(doc)
        with pytest.raises(TypeError):
            quorl.FlagMarker("1", "A", [(0, (60, 100, 300, 112))]).addmarker(doc)
        assert [a.content for a in read_back(doc)[1]] == ["Claims", "Claims"]


class TestPythonSubclasses:
    def test_an_overriding_addmarker_is_the_one_called(self):
        drawn = []

        class Counting(quorl.Marker):
            def addmarker(self, pdfdoc):
                drawn.append((self.title, self.content, len(pdfdoc)))

        markerdict = {"par": Counting}
        marker = markerdict["par"](4, "text", [(0, pymupdf.Rect(1, 2, 3, 4))], "")
        assert marker.addmarker(new_doc()) is None
        assert drawn == [("4", "text", 3)]
        assert marker.getmarker() is None

    def test_an_override_can_extend_the_base_drawing(self):
        class Boxed(quorl.PARMarker):
            def addmarker(self, pdfdoc):
                super().addmarker(pdfdoc)
                quorl._add_flag_mark(pdfdoc[0], (500, 700, 560, 715), {"content": "extra"})

            def getmarker(self):
                return "#" + super().getmarker()

        doc = new_doc()
        marker = Boxed(2, "t", [(0, pymupdf.Rect(100, 400, 300, 412))])
        marker.addmarker(doc)
        assert marker.getmarker() == "#2"
        assert [a.content for a in read_back(doc)[0]] == ["t", "2", "extra"]

    def test_an_overriding_constructor_of_an_image_marker(self):
        class Figure(quorl.ImgIGMarker):
            def __init__(self, title, content, position, info=""):
                super().__init__(title, content.upper(), position, info=info)
                self.imageinfo = "figure"

        marker = Figure(1, "fig", [(0, pymupdf.Rect(100, 200, 300, 400))])
        assert (marker.content, marker.imageinfo) == ("FIG", "figure")
        with recording(forward=False) as calls:
            marker.addmarker([0])
        assert calls[0].args[2]["content"] == "FIG"

    def test_the_document_draws_with_an_overriding_subclass(self, capsys):
        patent = patents.generate_patent(1, figures=1, paragraphs=3, claims=2)
        drawn = []

        class Custom(quorl.PARMarker):
            def addmarker(self, pdfdoc):
                drawn.append([(page, tuple(rect)) for page, rect in self.position])
                super().addmarker(pdfdoc)

        pdfdoc = quorl.PdfDocument(
            pymupdf.open("pdf", patent.pdf), markerdict={"par": Custom, "flag": quorl.FlagMarker}
        )
        marks = [
            {"type": "equal", "title": 3, "content": "x", "pdflines": [(0, [0, 4])], "info": "EQUAL"},
            {"type": "flag", "title": 1, "content": "实施例", "pdflines": [(1, [0, 2])]},
        ]
        pages = read_back(pymupdf.open("pdf", pdfdoc.get_marked_file(marks)))
        assert "markinfo:" in capsys.readouterr().out
        ((page, line),) = drawn[0]
        highlight, label = pages[page][:2]
        assert (highlight.type, highlight.content) == ("Highlight", "x")
        assert (label.subject, label.content) == ("Duplicate", "=3")
        centre = (line[0] + line[2]) / 2
        assert label.rect == approx_box((centre - 7, line[1] - 8, centre + 7, line[1]))
        assert [a.content for a in pages[1] if a.content == "Claims"] == ["Claims"]
        assert any(a.content == "实施例" and a.rect[0] == pytest.approx(500) for p in pages for a in p)
