"""Marker scanning and position bookkeeping of HtmlDocument, against the same steps done with re."""
import re

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorl

MARKER = "##@.*?@##"


def reference_index(markcontent, pos=0):
    """The marker walk written out with re.finditer."""
    markdict = {}
    baseidx = 0
    for m in re.finditer(MARKER, markcontent):
        start, end = m.span()
        fields = markcontent[start + 3:end - 3].split("|")
        if fields[0] == "start":
            markdict[fields[2]] = {"id": fields[2], "type": fields[1],
                                   "start": start - baseidx + pos, "end": -1}
        elif fields[0] == "end":
            markdict[fields[2]]["end"] = start - baseidx + pos
        baseidx += end - start
    return markdict


def outcome(fn, *args):
    """The result, or the exception's type and arguments."""
    try:
        return "ok", fn(*args)
    except (KeyError, IndexError) as e:
        return type(e), e.args[:1] if isinstance(e, KeyError) else ()


@pytest.fixture(scope="module")
def doc():
    return quorl.HtmlDocument("<p>x</p>")


FRAGMENTS = ["##@", "@##", "#", "@", "|", "\n", "\r", "a", "中", "\U0001f600", "\ud800",
             "start", "end", "start|t|x", "end|t|x", "start|u|y", "end|u|y", "start|v", "end|",
             "note|t|x", "##@start|relateitem|claims@##", "##@end|relateitem|claims@##"]
marked_texts = st.lists(st.sampled_from(FRAGMENTS), max_size=40).map("".join)


@settings(max_examples=400, deadline=None)
@given(text=marked_texts, pos=st.integers(-(10 ** 20), 10 ** 20))
def test_scan_matches_re_on_random_texts(doc, text, pos):
    got = outcome(doc.info_index_parser, text, pos)
    want = outcome(reference_index, text, pos)
    assert got == want
    if got[0] == "ok":
        # Same records in the same order, keys in the same order.
        assert [list(r.items()) for r in got[1].values()] == \
            [list(r.items()) for r in want[1].values()]


@settings(max_examples=200, deadline=None)
@given(text=marked_texts.map(lambda t: t.replace("\ud800", "")))
def test_document_text_drops_exactly_what_re_sub_drops(text):
    # A text node holding marker-like text passes through parse_info's marker removal.
    html = "<p>%s</p>" % text.replace("&", "&amp;").replace("<", "&lt;")
    doc = quorl.HtmlDocument.__new__(quorl.HtmlDocument)
    doc.rawcontent = html
    doc.infodict = {}
    doc.info_index_parser = lambda markcontent, pos=0: {}
    page = quorl.BeautifulSoup(html.replace("\n", ""), "lxml")
    expected = re.sub(MARKER, "", page.text)
    page.decompose()
    doc.parse_info([])
    assert doc.text == expected


def test_claims_example_and_offset(doc):
    text = "##@start|relateitem|claims@##AB##@end|relateitem|claims@##"
    assert doc.info_index_parser(text) == {
        "claims": {"id": "claims", "type": "relateitem", "start": 0, "end": 2}}
    shifted = doc.info_index_parser(text, 10)["claims"]
    assert list(shifted.items()) == [("id", "claims"), ("type", "relateitem"),
                                     ("start", 10), ("end", 12)]
    assert doc.info_index_parser(text, pos=10) == {"claims": shifted}


def test_nested_adjacent_and_empty_spans(doc):
    text = ("##@start|t|outer@##a##@start|t|inner@##bc##@end|t|inner@##"
            "##@start|t|empty@####@end|t|empty@##d##@end|t|outer@##")
    got = doc.info_index_parser(text)
    assert [(k, r["start"], r["end"]) for k, r in got.items()] == \
        [("outer", 0, 4), ("inner", 1, 3), ("empty", 3, 3)]


def test_a_marker_cannot_span_a_newline(doc):
    text = "##@start|t|a\n@##x##@start|t|b@##y"
    assert doc.info_index_parser(text) == {"b": {"id": "b", "type": "t", "start": 17, "end": -1}}


def test_end_marker_without_start_names_the_id(doc):
    with pytest.raises(KeyError) as err:
        doc.info_index_parser("text ##@end|relateitem|ghost@## more")
    assert err.value.args == ("ghost",)


def test_markers_with_too_few_fields(doc):
    with pytest.raises(IndexError):
        doc.info_index_parser("##@start|relateitem@##")
    with pytest.raises(IndexError):
        doc.info_index_parser("##@end@##")
    # Other words are skipped whatever their shape.
    assert doc.info_index_parser("##@note@##") == {}


def test_rejects_what_is_not_a_text_or_a_position(doc):
    with pytest.raises(TypeError, match="markcontent must be str"):
        doc.info_index_parser(b"##@start|t|a@##")
    with pytest.raises(TypeError):
        doc.info_index_parser("x", 1.5)
    with pytest.raises(TypeError):
        doc.info_index_parser("x", "3")


def reference_format(html):
    html = re.sub("[ \\t\\r\\n]+", " ", html)
    html = re.sub(">[ \\t\\r\\n]+", ">", html)
    return re.sub("[ \\t\\r\\n]+<", "<", html)


@settings(max_examples=300, deadline=None)
@given(st.lists(st.sampled_from([" ", "\t", "\r", "\n", "<", ">", "a", "\u3000", "\x0b", "\x0c",
                                 "<p>", "</p>", "中"]), max_size=30).map("".join))
def test_html_format_matches_the_three_substitutions(doc, html):
    assert doc._html_format(html) == reference_format(html)


def test_html_format_examples(doc):
    assert doc._html_format("a \n\t b") == "a b"
    assert doc._html_format("<p> a </p>") == "<p>a</p>"
    with pytest.raises(TypeError):
        doc._html_format(None)
