"""Bad input to every public function and method: the outcome is a Python exception of a clear
type or a correct result, never a crash, SystemError or hang.

Inputs that could crash or hang the interpreter (deep and huge HTML) run in a child process with
a time limit, so a fault shows up as a failed test instead of a dead test run.
"""

import contextlib
import difflib
import io
import json
import logging
import pathlib
import subprocess
import sys
import textwrap

import pymupdf
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import align_reference as ref
import quorl

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
INT64 = 2**63

# Everything a careless caller might pass where something else is expected.
JUNK = [
    None, b"ab", 1.5, float("nan"), (), (1,), (1, 2, 3), {}, {"a": 1}, [], [1], [None],
    -1, 2**70, -(2**70), "", "\ud800", "a\U0001f600b", [[1, 2], [3]], [(1, "x")],
    [((0, 2**70), (0, 2**70))], [((5, 1), (1, 5))], [((-3, -1), (0, 2))], (2**70, 2**70 + 1),
    [0, -5, 3], [0, 2**70], ["x", None], object(),
]
junk = st.sampled_from(JUNK)
any_int = st.one_of(st.integers(-40, 40), st.integers(-(2**80), 2**80))
span = st.tuples(any_int, any_int)
any_text = st.text(st.characters(codec=None, exclude_categories=()), max_size=30)

SPAN_FUNCTIONS = [
    "check_span", "span_binary_search", "convert_span_a2b", "convert_position_a2b",
    "convert_span2lines", "get_span_text", "get_relation_by_line", "get_relation_list",
    "html_format", "_add_highlight_mark", "_add_num_mark", "_add_flag_mark", "pdf_marker",
]


def quiet(fn, *args, **kwargs):
    with contextlib.redirect_stdout(io.StringIO()):
        return fn(*args, **kwargs)


@pytest.fixture(autouse=True)
def _silence_logging():
    logging.disable(logging.CRITICAL)
    yield
    logging.disable(logging.NOTSET)


def is_huge(*values):
    """True when a value (or an item of a nested tuple/list) does not fit in 64 bits."""
    for v in values:
        if isinstance(v, int) and not -INT64 <= v < INT64:
            return True
        if isinstance(v, (tuple, list)) and is_huge(*v):
            return True
    return False


def same_outcome(compiled, reference, *args):
    """The compiled function gives the reference's result or fails like it; a value beyond 64
    bits may instead be refused with OverflowError."""
    try:
        expected = reference(*args)
    except (TypeError, IndexError, AssertionError, KeyError) as e:
        with pytest.raises((type(e), OverflowError) if is_huge(args) else type(e)):
            compiled(*args)
        return
    try:
        got = compiled(*args)
    except OverflowError as e:
        assert is_huge(args), e
        return
    assert got == expected


def reference_a2b(sa, spandiff):
    assert sa[0] <= sa[1]
    return ref.convert_span_a2b(sa, spandiff)


# --- span arithmetic against the plain Python oracle -------------------------------------------


class TestSpanFunctionsAgainstOracle:
    @settings(max_examples=150, deadline=None)
    @given(st.lists(span, max_size=6), any_int, st.booleans())
    def test_span_binary_search_unordered_and_huge(self, spans, value, exact):
        same_outcome(quorl.span_binary_search, ref.span_binary_search, spans, value, exact)

    @settings(max_examples=150, deadline=None)
    @given(span, st.lists(st.tuples(span, span), max_size=6))
    def test_convert_span_a2b_unordered_and_huge(self, sa, spandiff):
        same_outcome(quorl.convert_span_a2b, reference_a2b, sa, spandiff)

    @settings(max_examples=150, deadline=None)
    @given(span, st.lists(any_int, min_size=1, max_size=6))
    def test_convert_span2lines_non_ascending_index(self, sp, lineindex):
        same_outcome(quorl.convert_span2lines, ref.convert_span2lines, sp, lineindex)

    @settings(max_examples=100, deadline=None)
    @given(span, any_text)
    def test_get_span_text_any_bounds_and_code_points(self, sp, text):
        assert quorl.get_span_text(sp, text) == text[sp[0]:sp[1]].replace("\n", "")

    def test_convert_span_a2b_start_after_end_asserts(self):
        with pytest.raises(AssertionError):
            quorl.convert_span_a2b((5, 1), [((0, 9), (0, 9))])

    @pytest.mark.parametrize("sa,spandiff", [
        ((0,), [((0, 1), (0, 1))]),
        ((0, 1), [((0, 1),)]),
        ((0, 1), [((0,), (0, 1))]),
        ((0, 1), [(0, 1)]),
        ((0, 1), [None]),
        (None, []),
        ((0, 1), [(("a", "b"), (0, 1))]),
    ])
    def test_convert_span_a2b_malformed_pairs(self, sa, spandiff):
        same_outcome(quorl.convert_span_a2b, reference_a2b, sa, spandiff)

    def test_convert_span_a2b_dict_is_refused(self):
        with pytest.raises((TypeError, IndexError)):
            quorl.convert_span_a2b((0, 1), {"a": 1})

    @pytest.mark.parametrize("sp,lineindex", [
        ((0, 5), []), ((0, 5), None), ((0,), [0, 3]), ((0, 5), [0, "x"]), ((0, 5), [0, None]),
        ((0, 5), [0, 2**70]), ((0, 5), "abc"),
    ])
    def test_convert_span2lines_malformed(self, sp, lineindex):
        same_outcome(quorl.convert_span2lines, ref.convert_span2lines, sp, lineindex)

    @pytest.mark.parametrize("lineindex", [{0: 1}, {0: 0, 1: 4, 2: 9}, {0, 3, 9}])
    def test_convert_span2lines_refuses_mappings_and_sets(self, lineindex):
        # Read as an iterable, a dict would give its keys and a made-up answer.
        with pytest.raises(TypeError, match="lineindex"):
            quorl.convert_span2lines((0, 5), lineindex)


class TestEveryFunctionWithJunk:
    """Each function with one to three junk arguments: only ordinary Python errors come out."""

    @settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
    @given(st.sampled_from(SPAN_FUNCTIONS), st.lists(junk, min_size=0, max_size=4))
    def test_no_system_error(self, name, args):
        try:
            quiet(getattr(quorl, name), *args)
        except SystemError:
            raise
        except Exception:
            pass

    @pytest.mark.parametrize("name", SPAN_FUNCTIONS)
    def test_wrong_arity_is_type_error(self, name):
        with pytest.raises(TypeError):
            getattr(quorl, name)(*([None] * 9))


# --- the position mapper ------------------------------------------------------------------------


class TestPositionMapperInput:
    @pytest.mark.parametrize("a,b", [
        (None, "x"), ("x", None), (b"x", "x"), (("x",), "x"), ("x", 5), ({"a": 1}, "x"), (1.5, "x"),
    ])
    def test_neither_string_nor_list_is_init_error(self, a, b):
        with pytest.raises(Exception, match="^Position Mapper init error$") as info:
            quorl.PositionMapper(a, b)
        assert type(info.value) is Exception

    @pytest.mark.parametrize("a", [[None], ["x", 1], [b"x"], [["x"]]])
    def test_list_with_non_strings_is_type_error(self, a):
        with pytest.raises(TypeError):
            quorl.PositionMapper(a, "x")

    @settings(max_examples=60, deadline=None)
    @given(st.lists(any_text, max_size=4), st.lists(any_text, max_size=4))
    def test_surrogates_and_astral_lines(self, a, b):
        m = quiet(quorl.PositionMapper, a, b)
        assert m.difflist == difflib.SequenceMatcher(None, m.a_text, m.b_text, None).get_opcodes()
        for (a0, a1), (b0, b1) in m.spandiff:
            assert a1 - a0 == b1 - b0
            assert 0 <= a0 <= a1 <= len(m.a_text) and 0 <= b0 <= b1 <= len(m.b_text)
        html = m.getdiffviewtext()
        assert isinstance(html, str)
        rel = quorl.get_relation_list(m)
        assert isinstance(rel, list)

    def test_empty_texts(self):
        m = quorl.PositionMapper("", "")
        assert m.difflist == [] and m.spandiff == []
        assert quorl.get_relation_list(m) == []

    @pytest.mark.parametrize("line", [-1, -100, 2**70, -(2**70)])
    def test_relation_by_line_out_of_range(self, line):
        m = quorl.PositionMapper("ab\ncd", "ab\ncd")
        try:
            result = quorl.get_relation_by_line(line, m)
        except (IndexError, OverflowError):
            return
        assert line < 0 and result == []

    @pytest.mark.parametrize("difflist", [
        [None], [("equal", 0, 1)], [("equal", "a", 1, 0, 1)], [("bogus", 0, 1, 0, 1)],
        [("equal", 0, 2**70, 0, 2**70)], [("equal", -5, -1, -5, -1)], [("equal", 3, 0, 3, 0)],
        "abc", {"a": 1}, [[1, 2, 3, 4, 5]],
    ])
    def test_relation_methods_with_malformed_opcodes(self, difflist):
        m = quorl.PositionMapper("ab\ncd", "ab\ncd")
        for method in ("get_relation_format", "get_relation_split_line"):
            try:
                getattr(m, method)(difflist)
            except (TypeError, IndexError, KeyError, ValueError, OverflowError, AttributeError):
                pass

    def test_mangled_attributes_are_checked(self):
        m = quorl.PositionMapper("ab\ncd", "ab\ncd")
        m.a_index = None
        m.b_text = 5
        m.difflist = [("equal", 0, 9, 0, 9)]
        for call in (lambda: quorl.get_relation_list(m), lambda: quorl.get_relation_by_line(0, m),
                     m.getdiffviewtext, m.get_relation_split_line):
            try:
                call()
            except (TypeError, IndexError, AttributeError, ValueError, KeyError):
                pass


# --- HTML documents ------------------------------------------------------------------------------


def run_child(code, timeout=120):
    """Runs code in a fresh interpreter; returns its stdout, failing on a crash or a hang."""
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=timeout)
    assert proc.returncode == 0, proc.stderr[-2000:]
    return proc.stdout


class TestHtmlDocumentInput:
    @pytest.mark.parametrize("content,text", [
        ("", ""), ("just text, no tags", "just text, no tags"), ("<<<>>>", "<<<>>>"),
        ("<div id='claims'>a\U0001f600b</div>", "a\U0001f600b"),
        ("<div id='claims'>a\nb</div>", "ab"),
    ])
    def test_odd_documents(self, content, text):
        assert quorl.HtmlDocument(content).text == text

    @pytest.mark.parametrize("content", [None, b"<p>x</p>", 5, ["<p/>"]])
    def test_content_must_be_str(self, content):
        with pytest.raises(TypeError):
            quorl.HtmlDocument(content)

    def test_lone_surrogate_is_encode_error(self):
        with pytest.raises(UnicodeEncodeError):
            quorl.HtmlDocument("<div id='claims'>a\ud800b</div>")

    @pytest.mark.parametrize("parserlist", [[{"bogus": 1}], [None], "abc", {"a": 1}, [1], None])
    def test_malformed_parser_descriptions(self, parserlist):
        with pytest.raises(TypeError):
            quorl.HtmlDocument("<div id='x'>a</div>", parserlist=parserlist)

    @pytest.mark.parametrize("info", [1, "x", {"x": None}, {"claims": None}, {"claims": 5},
                                      {"claims": [None]}, {"claims": {"bad": 1}}, [1, 2], {1: 2}])
    def test_set_info_malformed(self, info):
        doc = quorl.HtmlDocument("<div id='claims'>abc</div>", parserlist=[{"name": ["div"]}])
        with pytest.raises((TypeError, KeyError, IndexError)):
            doc.set_info(info)

    @pytest.mark.parametrize("markcontent", [
        "##@", "##@start|a|b@##x", "##@start|a|b|c|d@##", "##@||@##", "##@start|a|b@####@end|a|b@##",
        "\ud800##@start|a|\ud800@##x##@end|a|\ud800@##",
    ])
    @pytest.mark.parametrize("pos", [0, -5, 2**70])
    def test_info_index_parser_odd_markers(self, markcontent, pos):
        doc = quorl.HtmlDocument("")
        records = doc.info_index_parser(markcontent, pos)
        for rec in records.values():
            assert rec["start"] >= pos or rec["start"] == -1

    @pytest.mark.parametrize("markcontent", ["##@end|a|b@##", "##@start@##"])
    def test_info_index_parser_broken_markers(self, markcontent):
        with pytest.raises((KeyError, IndexError)):
            quorl.HtmlDocument("").info_index_parser(markcontent)

    @pytest.mark.parametrize("pos", [None, 1.5, "0"])
    def test_info_index_parser_pos_type(self, pos):
        with pytest.raises(TypeError):
            quorl.HtmlDocument("").info_index_parser("##@start|a|b@##x", pos)

    def test_deeply_nested_html(self):
        out = run_child("""
            import quorl
            depth = 10000
            html = "<div id='claims'>" + "<div>" * depth + "x" + "</div>" * depth + "</div>"
            doc = quorl.HtmlDocument(html, parserlist=[{'name': ['div']}])
            ids = "".join(f"<div id='d{i}'>" for i in range(depth)) + "y" + "</div>" * depth
            doc2 = quorl.HtmlDocument(ids, parserlist=[{'name': ['div']}])
            doc.set_info({})
            spans = {(r['start'], r['end']) for r in doc2.infodict.values()}
            print(repr(doc.text), repr(doc2.text), len(doc2.infodict), spans,
                  doc.infodict['claims']['start'], doc.infodict['claims']['end'])
        """)
        # Every one of the 10,000 nested elements is kept and measured around the one letter.
        assert out.split() == ["'x'", "'y'", "10000", "{(0,", "1)}", "0", "1"]

    def test_huge_html(self):
        out = run_child("""
            import quorl
            body = "一种装置abc" * 70
            html = "<div id='claims'>" + f"<p>{body}</p>" * 21000 + "</div>"
            assert len(html) > 10_000_000
            doc = quorl.HtmlDocument(html, parserlist=[{'name': ['div']}])
            print(len(doc.text), doc.text[:7] == "一种装置abc", doc.infodict['claims']['end'])
        """, timeout=300)
        assert out.split() == [str(490 * 21000), "True", str(490 * 21000)]


# --- PDF documents and converters ---------------------------------------------------------------


@pytest.fixture(scope="module")
def sample():
    html = (EXAMPLES / "sample.html").read_text(encoding="utf-8")
    pdf = (EXAMPLES / "sample.pdf").read_bytes()
    marks = json.loads((EXAMPLES / "sample-marks.json").read_text(encoding="utf-8"))
    return html, pdf, marks


@pytest.fixture(scope="module")
def converter(sample):
    logging.disable(logging.CRITICAL)
    try:
        return quiet(quorl.get_patent_converter, sample[0], sample[1])
    finally:
        logging.disable(logging.NOTSET)


def pdf_of(pages, drawings=0, text=None):
    doc = pymupdf.open()
    for _ in range(pages):
        page = doc.new_page()
        for k in range(drawings):
            page.draw_line((50, 240 + 5 * k), (545, 240 + 5 * k))
        if text:
            page.insert_text((60, 300), text)
    return doc.tobytes()


class TestMalformedPdf:
    def test_truncated_pdf_is_repaired_or_refused(self, sample):
        for cut in (len(sample[1]) // 2, len(sample[1]) // 5, 400, 9):
            try:
                conv = quiet(quorl.get_patent_converter, sample[0], sample[1][:cut])
            except (RuntimeError, ValueError, IndexError, ZeroDivisionError, KeyError):
                continue
            assert isinstance(conv.difflist, list)

    @pytest.mark.parametrize("data", [b"", b"%PDF-1.7\n", bytes(range(256)) * 20, b"\0" * 4096])
    def test_garbage_is_pymupdf_error(self, sample, data):
        with pytest.raises((pymupdf.FileDataError, pymupdf.EmptyFileError)):
            quorl.get_patent_converter(sample[0], data)

    @pytest.mark.parametrize("pdf", [
        pytest.param(dict(pages=1), id="one-blank-page"),
        pytest.param(dict(pages=2, text="hello"), id="no-drawings"),
        pytest.param(dict(pages=3, drawings=1), id="one-drawing"),
    ])
    def test_not_a_patent_is_index_error(self, sample, pdf):
        with pytest.raises(IndexError, match="separator"):
            quorl.get_patent_converter(sample[0], pdf_of(**pdf))

    def test_pages_without_text_give_empty_text(self, sample):
        data = pdf_of(pages=3, drawings=2)
        doc = quorl.PdfDocument(pymupdf.open("pdf", data))
        assert doc.get_text() == ""
        conv = quiet(quorl.get_patent_converter, sample[0], data)
        assert conv.difflist == []
        with pytest.raises(IndexError):
            quiet(quorl.pdf_marker, conv, [dict(sample[2][0])])

    def test_encrypted_pdf_is_value_error(self, sample):
        enc = pymupdf.open("pdf", sample[1]).tobytes(
            encryption=pymupdf.PDF_ENCRYPT_AES_256, owner_pw="o", user_pw="u")
        with pytest.raises(ValueError, match="encrypted"):
            quorl.get_patent_converter(sample[0], enc)

    @pytest.mark.parametrize("doc", [None, b"%PDF", [1, 2], "x.pdf"])
    def test_pdf_document_needs_a_document(self, doc):
        with pytest.raises((AttributeError, TypeError)):
            quorl.PdfDocument(doc)


class TestPdfDocumentMethods:
    @pytest.mark.parametrize("args,errors", [
        (((10**6, 0), (0, 5)), IndexError),
        (((0, 2**70), (0, 5)), (OverflowError, IndexError, Exception)),
        (((0,), (0, 5)), IndexError),
        ((None, None), TypeError),
        (((0, 5), (0, 1)), Exception),
        (((0, -100), (0, -1)), IndexError),
        (((0, 0), (0, 5), None), TypeError),
    ])
    def test_getcontentposition_bad_positions(self, converter, args, errors):
        with pytest.raises(errors) as info:
            converter.pdfdoc.getcontentposition(*args)
        assert not isinstance(info.value, SystemError)

    def test_getcontentposition_lines_out_of_order(self, converter):
        result = converter.pdfdoc.getcontentposition((3, 0), (1, 5))
        assert isinstance(result, list)

    @pytest.mark.parametrize("num,error", [(10**6, IndexError), (2**70, IndexError),
                                           (-(10**6), IndexError), (-(2**95), IndexError),
                                           (None, (AssertionError, TypeError))])
    def test_getpageimages_bad_page(self, converter, num, error):
        with pytest.raises(error):
            converter.pdfdoc.getpageimages(num)

    @pytest.mark.parametrize("num", [-(10**6), -(2**70)])
    def test_parse_content_refuses_huge_negative_pages(self, converter, num):
        entry = {"pages": [num], "lines": [], "margins": [converter.pdfdoc.docmargin]}
        with pytest.raises(IndexError, match="not in document"):
            converter.pdfdoc.parse_content(entry)

    @pytest.mark.parametrize("lines", [[], None, [(10**6, [0, 5])], [(0,)], [{"a": 1}], [(0, [5, 0])]])
    def test_addrect_refuses_with_reduce_error(self, converter, lines):
        with pytest.raises(Exception, match="^Reduce Error$"):
            converter.pdfdoc.addrect(lines)

    @pytest.mark.parametrize("typelist,error", [(["bogus"], KeyError), (None, TypeError),
                                                ("claims", KeyError), ([1], KeyError)])
    def test_get_lines_bad_kinds(self, converter, typelist, error):
        for method in ("get_lines", "get_content", "get_text"):
            with pytest.raises(error):
                getattr(converter.pdfdoc, method)(typelist)

    @pytest.mark.parametrize("lines", [None, [{"bbox": (0, 5)}], [None], [{"bbox": None}]])
    def test_calclinesrange_malformed(self, converter, lines):
        with pytest.raises((TypeError, IndexError, KeyError)):
            converter.pdfdoc.calclinesrange(lines)

    @pytest.mark.parametrize("raw", [None, [{"bbox": (0, 0, 0, 0)}], [None], [{"bbox": (0, 0, 1, 1), "spans": None}]])
    def test_sortlines_malformed(self, converter, raw):
        page = converter.pdfdoc.doc[0]
        with pytest.raises((TypeError, KeyError, IndexError, ZeroDivisionError)):
            converter.pdfdoc.sortlines(page, raw)

    @pytest.mark.parametrize("page,margin", [(0, (0, 0, 9, 9)), (None, None), ("p", (0, 0, 1, 1))])
    def test_content_by_margin_needs_a_page(self, converter, page, margin):
        with pytest.raises((AttributeError, TypeError)):
            converter.pdfdoc.get_content_by_margin(page, margin)

    @pytest.mark.parametrize("margin", [(0, 0), (10, 10, 0, 0), (float("nan"), 0, 1e308, 1e308)])
    def test_content_by_degenerate_margin(self, converter, margin):
        page = converter.pdfdoc.doc[0]
        assert quiet(converter.pdfdoc.get_content_by_margin, page, margin) == []


class TestMarkRecords:
    @pytest.mark.parametrize("mark,error", [
        (None, TypeError), ({}, KeyError), ({"start": 0}, KeyError),
        ({"start": "a", "end": "b"}, TypeError), ({"start": 1.5, "end": 3}, TypeError),
        ({"start": 5, "end": 1}, AssertionError), ({"start": 10**9, "end": 10**9 + 5}, IndexError),
        ({"start": -(10**30), "end": 10**30}, (OverflowError, IndexError)),
    ])
    def test_convert_bad_records(self, converter, mark, error):
        with pytest.raises(error):
            converter.convert_mark_html2pdf(mark)
        if isinstance(mark, dict):
            assert "pdflines" not in mark

    @pytest.mark.parametrize("change,error", [
        ({"type": "bogus"}, KeyError), ({"type": None}, TypeError), ({"title": None}, None),
        ({"content": None}, None), ({"type": "flag", "content": "\ud800"}, (TypeError, ValueError, UnicodeError)),
        ({"type": "imgpar", "info": "imagenote#a#b#c"}, (ValueError, IndexError)),
        ({"type": "imgpar", "info": "imagenote#1e308#-1e308#nan#inf"}, (ValueError, OverflowError, IndexError)),
        ({"type": "imgig", "info": "imagenote#" + "#".join(["9" * 400] * 4)}, (ValueError, OverflowError)),
        ({"type": "imgig", "info": None}, TypeError), ({"type": "par", "info": 5}, TypeError),
    ])
    def test_draw_bad_records(self, converter, sample, change, error):
        mark = dict(sample[2][0], **change)
        if error is None:
            out = quiet(quorl.pdf_marker, converter, [mark])
            assert pymupdf.open("pdf", out).page_count == converter.pdfdoc.pagecount
        else:
            with pytest.raises(error):
                quiet(quorl.pdf_marker, converter, [mark])

    @pytest.mark.parametrize("lines,error", [
        ([], IndexError), ([(10**9, [0, 5])], IndexError), ([(0,)], (IndexError, TypeError)),
        ([None], TypeError), ([(-1, [0, 5])], None),
        # Offsets at or past the end of the line select its last character.
        ([(0, [2**70, 2**71])], None),
    ])
    def test_make_mark_bad_pdflines(self, converter, lines, error):
        mark = {"type": "cth", "title": "1", "content": "c", "pdflines": lines}
        if error is None:
            quiet(converter.pdfdoc.make_mark, mark)
        else:
            with pytest.raises(error) as info:
                quiet(converter.pdfdoc.make_mark, mark)
            assert not isinstance(info.value, SystemError)

    @pytest.mark.parametrize("marks", [None, [None], "abc", [1]])
    def test_pdf_marker_bad_lists(self, converter, marks):
        with pytest.raises((TypeError, KeyError)):
            quiet(quorl.pdf_marker, converter, marks)

    @pytest.mark.parametrize("info", [{"claims": None}, "x", {"zzz": {"pdf": 1}}])
    def test_mark_html_bad_info(self, converter, info):
        with pytest.raises((TypeError, KeyError)):
            converter.mark_html(info)

    @pytest.mark.parametrize("args", [(None, None), ("html", None), (None, "pdf")])
    def test_patent_converter_needs_documents(self, args):
        with pytest.raises(AttributeError):
            quorl.PatentConverter(*args)

    def test_get_patent_converter_argument_types(self, sample):
        with pytest.raises(TypeError):
            quorl.get_patent_converter(sample[0], sample[1], None)
        with pytest.raises(TypeError):
            quorl.get_patent_converter(sample[0].encode(), sample[1])
        with pytest.raises(TypeError):
            quorl.get_patent_converter(None, sample[1])


# --- objects whose protocol methods raise -----------------------------------------------------


class Hostile:
    """Raises from every protocol method the module might use on an argument."""

    def __bool__(self):
        raise ZeroDivisionError("bool")

    def __len__(self):
        raise ZeroDivisionError("len")

    def __index__(self):
        raise ZeroDivisionError("index")

    def __getitem__(self, key):
        raise ZeroDivisionError("getitem")

    def __iter__(self):
        raise ZeroDivisionError("iter")


class HostileInt(int):
    def __bool__(self):
        raise ZeroDivisionError("bool")


class TestRaisingProtocolMethods:
    """The error raised inside __bool__ and friends reaches the caller; it is neither lost nor
    turned into SystemError."""

    def mapper(self, a_length):
        m = quorl.PositionMapper("ab\ncd", "ab\ncd")
        m.a_length = a_length
        return m

    @pytest.mark.parametrize("call", [
        pytest.param(lambda: quorl.check_span(2**70, Hostile(), 1), id="check_span-a"),
        pytest.param(lambda: quorl.check_span(2**70, HostileInt(3), 1), id="check_span-big"),
        pytest.param(lambda: quorl.span_binary_search([(0, 1), (2, 3), (5, 6)], 7, Hostile()),
                     id="span_binary_search-exact"),
        pytest.param(lambda: quorl.convert_span2lines(Hostile(), [0, 1]), id="span2lines"),
        pytest.param(lambda: quorl.convert_span_a2b(Hostile(), [((0, 1), (0, 1))]), id="a2b"),
        pytest.param(lambda: quorl.convert_position_a2b(Hostile(), [((0, 1), (0, 1))]), id="pos"),
        pytest.param(lambda: quorl.get_span_text(Hostile(), "abc"), id="span_text"),
        pytest.param(lambda: quorl.PatentConverter(quorl.HtmlDocument(""), None, Hostile()),
                     id="converter-difflist"),
        pytest.param(lambda: quorl.PositionMapper("a", "b").get_line_index([Hostile()]),
                     id="line_index"),
    ])
    def test_error_propagates(self, call):
        with pytest.raises(ZeroDivisionError):
            call()

    def test_relations_with_raising_line_length(self):
        with pytest.raises(ZeroDivisionError):
            quorl.get_relation_list(self.mapper([Hostile()]))
        with pytest.raises(ZeroDivisionError):
            quorl.get_relation_by_line(0, self.mapper([Hostile()]))

    def test_pdflines_without_length_are_indexed(self, converter):
        class Lines(Hostile):
            def __getitem__(self, k):
                return (0, [0, 5])

        mark = {"type": "cth", "title": "1", "content": "c", "pdflines": Lines()}
        quiet(converter.pdfdoc.make_mark, mark)
        mark["pdflines"] = Hostile()
        with pytest.raises(ZeroDivisionError, match="getitem"):
            quiet(converter.pdfdoc.make_mark, mark)


# --- markers and annotation primitives --------------------------------------------------------


def blank_doc(pages=2):
    doc = pymupdf.open()
    for _ in range(pages):
        doc.new_page()
    return doc


def reopened(doc):
    """The document written and read back, so damage done while drawing shows up."""
    return pymupdf.open("pdf", doc.tobytes())


class TestMarkersWithBadInput:
    RECT = (60, 100, 200, 115)

    @pytest.mark.parametrize("cls", ["CTHMarker", "PARMarker"])
    def test_empty_position_draws_nothing(self, cls):
        doc = blank_doc()
        getattr(quorl, cls)("1", "c", []).addmarker(doc)
        assert all(not list(p.annots()) for p in reopened(doc))

    @pytest.mark.parametrize("cls", ["ImgPARMarker", "ImgIGMarker", "FlagMarker"])
    def test_empty_position_is_index_error(self, cls):
        with pytest.raises(IndexError):
            getattr(quorl, cls)("1", "c", []).addmarker(blank_doc())

    def test_flag_on_one_page_document(self):
        doc = blank_doc(1)
        with pytest.raises(IndexError):
            quorl.FlagMarker("1", "c", [(0, pymupdf.Rect(self.RECT))]).addmarker(doc)
        assert not list(reopened(doc)[0].annots())

    def test_flag_with_tuple_rectangle(self):
        doc = blank_doc()
        with pytest.raises(TypeError):
            quorl.FlagMarker("1", "c", [(0, self.RECT)]).addmarker(doc)
        assert [a.info["content"] for a in reopened(doc)[1].annots()] == ["Claims"]

    @pytest.mark.parametrize("cls", ["ImgPARMarker", "ImgIGMarker", "PARMarker"])
    def test_info_without_in_is_type_error(self, cls):
        with pytest.raises(TypeError):
            getattr(quorl, cls)("1", "c", [(0, pymupdf.Rect(self.RECT))], None).addmarker(blank_doc())

    @pytest.mark.parametrize("info,error", [
        ("imagenote", IndexError), ("imagenote#1,2,3", ValueError), ("imagenote#1,2,3,12.5", ValueError),
        ("imagenote#,,,", ValueError), ("imagenote#a,b,c,d", ValueError),
        ("imagenote#\U0001f600,1,2,3", ValueError),
    ])
    @pytest.mark.parametrize("cls", ["ImgPARMarker", "ImgIGMarker"])
    def test_bad_image_note_geometry(self, cls, info, error):
        doc = blank_doc()
        with pytest.raises(error):
            getattr(quorl, cls)("1", "c", [(0, pymupdf.Rect(self.RECT))], info).addmarker(doc)
        assert not list(reopened(doc)[0].annots())

    @pytest.mark.parametrize("fields", ["9" * 400 + ",1,2,3", "-5,-5,-5,-5", "1000,1000,0,0",
                                        "0,0,0,0", "99999999999999999999,0,1,1"])
    @pytest.mark.parametrize("cls", ["ImgPARMarker", "ImgIGMarker"])
    def test_extreme_image_note_geometry(self, cls, fields):
        doc = blank_doc()
        try:
            getattr(quorl, cls)("1", "c", [(0, pymupdf.Rect(self.RECT))], "imagenote#" + fields).addmarker(doc)
        except (ValueError, OverflowError):
            return
        reopened(doc)

    @pytest.mark.parametrize("page", [2, 10**6, 2**70, -(2**70), None, "0"])
    @pytest.mark.parametrize("cls", ["CTHMarker", "PARMarker", "ImgPARMarker", "ImgIGMarker", "FlagMarker"])
    def test_page_outside_document(self, cls, page):
        # PyMuPDF itself refuses a page number that is not an int with AssertionError.
        with pytest.raises((IndexError, TypeError, ValueError, AssertionError)):
            getattr(quorl, cls)("1", "c", [(page, pymupdf.Rect(self.RECT))]).addmarker(blank_doc())

    @pytest.mark.parametrize("position", [[(0,)], [None], [(0, None)], [(0, "rect")], "ab", None])
    @pytest.mark.parametrize("cls", ["CTHMarker", "PARMarker", "ImgPARMarker", "ImgIGMarker", "FlagMarker"])
    def test_malformed_position(self, cls, position):
        doc = blank_doc()
        try:
            getattr(quorl, cls)("1", "c", position).addmarker(doc)
        except (IndexError, TypeError, AttributeError, ValueError, AssertionError):
            return
        # PyMuPDF takes a missing highlight area as "no area given"; the file stays sound.
        reopened(doc)

    @pytest.mark.parametrize("title,content", [("\ud800", "c"), ("1", "\ud800"), (None, None), (5, b"x")])
    @pytest.mark.parametrize("cls", ["CTHMarker", "PARMarker", "ImgIGMarker", "FlagMarker"])
    def test_odd_title_and_content(self, cls, title, content):
        doc = blank_doc()
        try:
            getattr(quorl, cls)(title, content, [(0, pymupdf.Rect(self.RECT))]).addmarker(doc)
        except (TypeError, ValueError, UnicodeError):
            return
        reopened(doc)


class TestPrimitivesWithBadInput:
    INFO = {"subject": "s", "title": "vexil", "content": "1"}

    @pytest.mark.parametrize("rect", [(0, 0, 0, 0), (500, 500, 10, 10), (-100, -100, -50, -50),
                                      (0, 0, 1e6, 1e6), (float("nan"),) * 4])
    @pytest.mark.parametrize("fn", ["_add_num_mark", "_add_flag_mark"])
    def test_odd_rectangles(self, fn, rect):
        doc = blank_doc(1)
        try:
            getattr(quorl, fn)(doc[0], rect, dict(self.INFO))
        except (ValueError, RuntimeError):
            return
        reopened(doc)

    @pytest.mark.parametrize("kwargs", [dict(tsize=0), dict(tsize=-1), dict(tsize=float("nan")),
                                        dict(tcolor=(2, -1, 0)), dict(fcolor=(0.5,)), dict(tcolor=None),
                                        dict(tsize="9"), dict(fcolor="red")])
    def test_odd_sizes_and_colours(self, kwargs):
        doc = blank_doc(1)
        try:
            quorl._add_num_mark(doc[0], (60, 100, 200, 115), dict(self.INFO), **kwargs)
        except (ValueError, TypeError, RuntimeError):
            return
        reopened(doc)

    @pytest.mark.parametrize("info,error", [({}, KeyError), (None, TypeError), ({"content": None}, (TypeError, ValueError))])
    def test_info_records(self, info, error):
        with pytest.raises(error):
            quorl._add_num_mark(blank_doc(1)[0], (60, 100, 200, 115), info)

    @pytest.mark.parametrize("rects", [[], [(0, 0, 0, 0)], "abc", [None], (1, 2)])
    def test_highlight_odd_areas(self, rects):
        doc = blank_doc(1)
        try:
            quorl._add_highlight_mark(doc[0], rects, dict(self.INFO))
        except (ValueError, TypeError, RuntimeError, AttributeError):
            return
        reopened(doc)


class TestConverterWithJunkAlignment:
    """A converter whose difflist the caller replaced: clear errors, or marks placed by it."""

    @pytest.fixture
    def fresh(self, sample):
        logging.disable(logging.CRITICAL)
        return quiet(quorl.get_patent_converter, sample[0], sample[1])

    @pytest.mark.parametrize("difflist,error", [
        ([None], TypeError), ("abc", (IndexError, TypeError)), (None, TypeError),
        ([((0, 5), (5, 0))], IndexError), ([((0, 500), (-(10**6), -(10**6) + 500))], IndexError),
        ([((0, 2**70), (0, 2**70))], OverflowError),
    ])
    def test_bad_alignment(self, fresh, sample, difflist, error):
        fresh.difflist = difflist
        mark = dict(sample[2][0])
        with pytest.raises(error):
            quiet(quorl.pdf_marker, fresh, [mark])

    def test_one_wide_pair_places_marks(self, fresh, sample):
        # One pair that maps the whole HTML text onto the PDF text, offset for offset.
        fresh.difflist = [((0, 10**9), (0, 10**9))]
        marks = [dict(m) for m in sample[2][:3]]
        out = quiet(quorl.pdf_marker, fresh, marks)
        assert all(m["pdflines"] for m in marks)
        assert sum(len(list(p.annots())) for p in pymupdf.open("pdf", out)) >= 3
