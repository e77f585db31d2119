"""HtmlDocument: document text, element positions, section texts and the writing of classes."""
import re

import bs4
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorl
from test_html_markers import reference_index
from test_html_parsers import documents, reference_mark

SECTIONS = ["cn-bibliographic-info", "claims", "description", "drawings"]
PARSERS = [{"name": ["img", "div", "h2"]}]

PATENT = """<html><body>
<div id="cn-bibliographic-info"><div id="b1" class="field">(21)申请号 2019</div>
<h2 id="t">发明名称</h2></div>
<div id="claims">
<div id="c1" class="claim">1.一种装置。</div>
<div id="c2" class="claim">2.根据权利要求1。</div>
</div>
<div id="description"><div id="p1">[0001]技术领域</div><div>无编号</div><div id="p2"></div></div>
<div id="drawings"><img id="f1" src="f1.png"><div id="fc1">图1</div></div>
</body></html>"""


def lxml_tree(html):
    return bs4.BeautifulSoup(html.replace("\n", ""), "lxml")


def element_texts(html):
    """id -> text of the first element carrying it, from a tree of the newline-free HTML."""
    tree = lxml_tree(html)
    texts = {}
    for element in tree.find_all(id=True):
        texts.setdefault(element["id"], element.get_text())
    return texts


def reference_parse(html, infolist):
    """parse_info written out with BeautifulSoup's find_all, insert and append, and re."""
    page = lxml_tree(html)
    infodict = {}
    for parseinfo in infolist:
        infodict.update(reference_mark(page, "relateitem", parseinfo.get("name"),
                                       parseinfo.get("attrs", {}), False))
    markcontent = page.text
    for key, record in reference_index(markcontent).items():
        infodict[key].update(record)
    return re.sub("##@.*?@##", "", markcontent), infodict


@pytest.fixture
def doc():
    return quorl.HtmlDocument(PATENT, PARSERS)


class TestConstruction:
    def test_attributes_in_order(self, doc):
        assert list(vars(doc)) == ["rawcontent", "infoparserlist", "infodict",
                                   "contentparserlist", "content", "text"]
        assert doc.rawcontent is PATENT and doc.content is PATENT
        assert doc.infoparserlist is PARSERS
        assert doc.contentparserlist == [{"attrs": {"id": s}} for s in SECTIONS]
        assert PARSERS == [{"name": ["img", "div", "h2"]}]

    def test_each_document_has_its_own_section_list(self, doc):
        assert doc.contentparserlist is not quorl.HtmlDocument(PATENT).contentparserlist

    def test_document_text_is_the_text_without_newlines(self, doc):
        assert doc.text == lxml_tree(PATENT).text
        assert "\n" not in doc.text and "##@" not in doc.text

    def test_records_keep_the_parser_key_order(self, doc):
        assert list(doc.infodict["c1"]) == ["type", "id", "start", "end"]
        assert set(doc.infodict) == {"b1", "t", "c1", "c2", "p1", "p2", "f1", "fc1", *SECTIONS}

    def test_every_record_spans_its_element_text(self, doc):
        texts = element_texts(PATENT)
        for key, record in doc.infodict.items():
            assert doc.text[record["start"]:record["end"]] == texts[key], key

    def test_default_parser_list_records_only_the_sections(self):
        doc = quorl.HtmlDocument(PATENT)
        assert list(doc.infodict) == SECTIONS
        assert doc.get_text("claims") == "1.一种装置。2.根据权利要求1。"

    def test_content_must_be_text(self):
        with pytest.raises(TypeError, match="content must be str, not bytes"):
            quorl.HtmlDocument(PATENT.encode())

    def test_bad_parser_descriptions(self):
        with pytest.raises(TypeError):
            quorl.HtmlDocument(PATENT, [{"tag": "div"}])
        with pytest.raises(TypeError, match="must be a mapping"):
            quorl.HtmlDocument(PATENT, [["div"]])

    def test_empty_and_plain_documents(self):
        assert quorl.HtmlDocument("").text == ""
        doc = quorl.HtmlDocument("<p>只有文本</p>")
        assert doc.text == "只有文本" and doc.infodict == {}


class TestPositions:
    def spans(self, html, parsers=PARSERS):
        doc = quorl.HtmlDocument(html, parsers)
        return doc, {k: (r["start"], r["end"]) for k, r in doc.infodict.items()}

    def test_nested_adjacent_empty_and_image_elements(self):
        html = ('<div id="o">ab<div id="i">cd</div><div id="j"></div><img id="g">'
                '<h2 id="h">e</h2><div id="k">f</div></div>')
        doc, spans = self.spans(html)
        assert spans == {"o": (0, 6), "i": (2, 4), "j": (4, 4), "g": (4, 4), "h": (4, 5),
                         "k": (5, 6)}
        assert doc.text == "abcdef"

    def test_duplicate_ids_keep_the_last_element_start(self):
        _, spans = self.spans('<div id="d">ab</div><div id="d">cde</div>')
        assert spans == {"d": (2, 5)}
        _, spans = self.spans('<div id="d">a<div id="d">bc</div>d</div>')
        assert spans == {"d": (1, 4)}

    def test_elements_without_ids_have_no_record_but_keep_their_text(self):
        doc, spans = self.spans('<div>ab</div><div id="x">c</div><div id="">d</div>')
        assert spans == {"x": (2, 3)} and doc.text == "abcd"

    def test_newlines_of_the_raw_html_are_removed(self):
        doc, spans = self.spans('<div id="a">x\ny</div>\n<div id="b">\nz</div>')
        assert doc.text == "xyz" and spans == {"a": (0, 2), "b": (2, 3)}

    def test_an_end_marker_without_start_in_the_text_is_a_key_error(self):
        with pytest.raises(KeyError) as err:
            quorl.HtmlDocument('<div id="a">x ##@end|relateitem|ghost@## y</div>', PARSERS)
        assert err.value.args == ("ghost",)

    def test_a_start_marker_for_an_unrecorded_id_is_a_key_error(self):
        with pytest.raises(KeyError):
            quorl.HtmlDocument("<p>##@start|relateitem|stray@##</p>")

    def test_marker_like_text_on_its_own_is_removed(self):
        doc = quorl.HtmlDocument('<div id="a">x##@note@##y</div>', PARSERS)
        assert doc.text == "xy" and doc.infodict["a"]["end"] == 2


@settings(max_examples=150, deadline=None)
@given(html=documents(),
       parsers=st.sampled_from([[], PARSERS, [{"name": "div"}, {"attrs": {"class": "x"}}],
                                [{"attrs": {"id": "a"}}, {"name": ["p", "span"]}]]))
def test_parse_info_matches_the_written_out_steps(html, parsers):
    # Text next to a marker can make a marker-like stretch that swallows the marker (for
    # instance "#" before "##@start|..."); the written-out steps then fail the same way.
    def outcome(fn):
        try:
            return fn()
        except (KeyError, IndexError) as e:
            return type(e), e.args

    def ours():
        doc = quorl.HtmlDocument(html, parsers)
        return doc.text, [list(r.items()) for r in doc.infodict.values()]

    def written_out():
        text, infodict = reference_parse(html, parsers + [{"attrs": {"id": s}} for s in SECTIONS])
        return text, [list(r.items()) for r in infodict.values()]

    assert outcome(ours) == outcome(written_out)


def test_text_next_to_a_marker_can_swallow_it():
    # "##@" then the start marker reads as one marker "##@##@start|relateitem|a@##", whose word
    # is not "start"; the end marker of "a" then has no start.
    html = '<p>#</p><div>#@<div id="a"></div>t</div>'
    with pytest.raises(KeyError) as err:
        quorl.HtmlDocument(html, PARSERS)
    assert err.value.args == ("a",)
    with pytest.raises(KeyError):
        reference_parse(html, PARSERS)


@settings(max_examples=150, deadline=None)
@given(html=documents().map(lambda h: h.replace("#", "").replace("@", "")))
def test_spans_are_the_element_texts(html):
    doc = quorl.HtmlDocument(html, [{"name": None}])
    tree = lxml_tree(html)
    assert doc.text == tree.text
    ids = [e["id"] for e in tree.find_all(id=True)]
    texts = element_texts(html)
    for key, record in doc.infodict.items():
        if key and ids.count(key) == 1:
            assert doc.text[record["start"]:record["end"]] == texts[key]


class TestTextAccess:
    def test_get_text(self, doc):
        assert doc.get_text() == doc.text
        r = doc.infodict["claims"]
        assert doc.get_text("claims") == doc.text[r["start"]:r["end"]] == "1.一种装置。2.根据权利要求1。"
        assert doc.get_text(tag="nothing") == doc.text

    def test_get_text_reads_the_records_as_they_are(self, doc):
        doc.infodict["c1"] = {"end": 3}
        assert doc.get_text("c1") == doc.text[:3]
        doc.infodict["c2"] = {}
        assert doc.get_text("c2") == doc.text

    def test_get_content_by_section_id(self, doc):
        got = doc.get_content(PATENT)
        assert list(got) == SECTIONS
        tree = bs4.BeautifulSoup(PATENT, "lxml")
        assert got == {s: tree.find(id=s).text for s in SECTIONS}
        assert "\n" in got["claims"]
        assert doc.get_content("<p>none</p>") == dict.fromkeys(SECTIONS, "")

    def test_get_content_with_break(self, doc):
        assert doc._get_content_with_break(None) == ""
        tree = bs4.BeautifulSoup('<div id="x">a<b>b</b></div>', "lxml")
        assert doc._get_content_with_break(tree.div) == "ab"

    def test_get_mark_content_and_delete(self, doc):
        assert doc.get_mark_content() is PATENT
        assert doc.delete() is None
        assert doc.delete() is None
        assert doc.get_text("c1") == "1.一种装置。"


class TestParseInfo:
    def test_default_arguments_measure_the_whole_text(self, doc):
        before = dict(doc.infodict)
        assert doc.parse_info() == {}
        assert doc.text == lxml_tree(PATENT).text
        assert doc.infodict == before

    def test_other_html_replaces_text_and_merges_records(self, doc):
        got = doc.parse_info([{"name": "p"}], "<p id='n'>新\n文本</p><p id='c1'>x</p>")
        assert doc.text == "新\n文本x"
        assert got == {"n": {"type": "relateitem", "id": "n", "start": 0, "end": 4},
                       "c1": {"type": "relateitem", "id": "c1", "start": 4, "end": 5}}
        assert doc.infodict["c1"] is got["c1"] and "c2" in doc.infodict

    def test_a_later_description_replaces_the_record(self):
        doc = quorl.HtmlDocument('<div id="claims" class="k">A</div>', [{"attrs": {"class": "k"}}])
        assert doc.infodict["claims"] == {"type": "relateitem", "id": "claims", "start": 0, "end": 1}

    def test_rebound_parser_class_and_overridden_methods_are_used(self, monkeypatch):
        made = []

        class Counting(quorl.ItemInfoParser):
            def __init__(self, **kwargs):
                made.append(kwargs)
                super().__init__(**kwargs)

        monkeypatch.setattr(quorl, "ItemInfoParser", Counting)

        class Shifted(quorl.HtmlDocument):
            def info_index_parser(self, markcontent, pos=0):
                return super().info_index_parser(markcontent, pos + 100)

        doc = Shifted(PATENT, PARSERS)
        assert made == PARSERS + [{"attrs": {"id": s}} for s in SECTIONS]
        assert doc.infodict["c1"]["start"] >= 100


class TestSetInfo:
    def classes(self, html, key):
        return bs4.BeautifulSoup(html, "lxml").find(id=key).get("class")

    def test_class_values(self, doc):
        info = {"c1": {"type": "relateitem", "relatelist": [3]},
                "c2": {"type": "relateitem", "relatelist": [3, 4, 9]},
                "p1": {"type": "relateitem"},
                "p2": {"type": "relateitem", "relatelist": []},
                "f1": {"type": "image", "relatelist": [1]}}
        out = doc.set_info(info)
        assert self.classes(out, "c1") == ["claim", "pdf3"]
        assert self.classes(out, "c2") == ["claim", "pdf3_9"]
        assert self.classes(out, "p1") == ["pdferror"]
        assert self.classes(out, "p2") == ["pdferror"]
        assert self.classes(out, "f1") is None
        assert self.classes(out, "b1") == ["field"]

    def test_entries_are_formatted(self, doc):
        out = doc.set_info({"c1": {"type": "relateitem", "relatelist": [(1, 2), "x"]}})
        assert 'class="claim pdf(1, 2)_x"' in out

    def test_defaults_to_the_documents_own_records(self, doc):
        for info in (None, {}):
            out = doc.set_info(info)
            assert self.classes(out, "c1") == ["claim", "pdferror"]
            assert self.classes(out, "claims") == ["pdferror"]

    def test_starts_from_the_raw_html_each_time(self, doc):
        doc.set_info({"c1": {"type": "relateitem", "relatelist": [1]}})
        out = doc.set_info({"c2": {"type": "relateitem", "relatelist": [2]}})
        assert self.classes(out, "c1") == ["claim"]
        assert doc.rawcontent is PATENT and "\n" in out

    def test_unknown_id_is_a_key_error_naming_it(self, doc):
        with pytest.raises(KeyError) as err:
            doc.set_info({"c1": {"type": "relateitem"}, "nowhere": {"type": "relateitem"}})
        assert err.value.args == ("nowhere",)

    def test_record_without_type_is_a_key_error(self, doc):
        with pytest.raises(KeyError, match="type"):
            doc.set_info({"c1": {"relatelist": [1]}})

    def test_first_element_of_a_duplicate_id(self):
        doc = quorl.HtmlDocument('<p id="d" class="a">1</p><p id="d" class="b">2</p>')
        out = doc.set_info({"d": {"type": "relateitem", "relatelist": [5]}})
        assert [p.get("class") for p in bs4.BeautifulSoup(out, "lxml").find_all("p")] == \
            [["a", "pdf5"], ["b"]]

    def test_ids_that_are_not_text_go_through_find(self):
        doc = quorl.HtmlDocument('<p id="5">x</p>')
        out = doc.set_info({5: {"type": "relateitem", "relatelist": [1]}})
        assert self.classes(out, "5") == ["pdf1"]


class RecordingSoup(bs4.BeautifulSoup):
    made = []

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        RecordingSoup.made.append((args, self))


def test_every_tree_is_parsed_with_lxml_and_decomposed(monkeypatch):
    monkeypatch.setattr(quorl, "BeautifulSoup", RecordingSoup)
    RecordingSoup.made = []
    doc = quorl.HtmlDocument(PATENT, PARSERS)
    doc.get_content(PATENT)
    doc.set_info({"c1": {"type": "relateitem"}})
    with pytest.raises(KeyError):
        doc.set_info({"missing": {"type": "relateitem"}})
    with pytest.raises(KeyError):
        quorl.HtmlDocument("<p id='a'>##@end|relateitem|b@##</p>", PARSERS)
    quorl.ContentParser("<p id='a'>x</p>", {"attrs": {"id": "a"}})
    assert len(RecordingSoup.made) == 6
    for args, tree in RecordingSoup.made:
        assert args[1] == "lxml"
        assert tree.decomposed


def test_docstrings():
    def doc(*lines):
        return "".join("\n        " + line for line in lines) + "\n        "

    h = quorl.HtmlDocument
    assert h._get_content_with_break.__doc__ == doc("根据html获取分段的文本")
    assert h.get_content.__doc__ == doc("根据不同的内容parser获取对应的内容")
    assert h.get_mark_content.__doc__ == doc(
        "获取标注的html，其中每个文本内容元素都包含位置信息，图片中的元素包含pdf位置信息", "步骤：",
        "1，获取相关文本信息", "2，相关文本与pdf文本进行匹配",
        "3，根据匹配信息，得到每个文本单元，以及图片的pdf信息",
        "4，根据匹配的信息，在html元素中添加pdf位置信息")
    assert h.info_index_parser.__doc__ == doc("根据标注文本获取对应标注信息")
    assert h.parse_info.__doc__ == doc("根据不同的信息parser获取对应的信息")
    assert h.set_info.__doc__ == doc("在html中设置对应信息")
    for name in ("__init__", "_html_format", "get_text", "delete"):
        assert getattr(h, name).__doc__ is None
    assert h.__doc__ is None and type(h) is type and h.__module__ == "quorl"


# The document is measured without editing BeautifulSoup's tree while every parser is the module's
# own; parsers of the caller's own, or another tree class, get the tree edited as mark() edits it.
# Both ways must give the same text and records.
def measured(html, parsers, passthrough_from=None, soup_class=None, index_override=False):
    made = [0]

    class Switching(quorl.ItemInfoParser):
        def __init__(self, **kwargs):
            super().__init__(**kwargs)
            made[0] += 1
            if passthrough_from is not None and made[0] > passthrough_from:
                self.mark = lambda soup: quorl.ItemInfoParser.mark(self, soup)

    class Document(quorl.HtmlDocument):
        if index_override:
            def info_index_parser(self, markcontent, pos=0):
                return super().info_index_parser(markcontent, pos)

    saved = quorl.ItemInfoParser, quorl.BeautifulSoup
    try:
        quorl.ItemInfoParser = Switching
        if soup_class is not None:
            quorl.BeautifulSoup = soup_class
        doc = Document(html, parsers)
    finally:
        quorl.ItemInfoParser, quorl.BeautifulSoup = saved
    return doc.text, [list(r.items()) for r in doc.infodict.values()]


class PlainSubclassSoup(bs4.BeautifulSoup):
    pass


TRICKY = [
    '<div id="a"><script id="s">var x = "##@";</script>b<style id="t">p {}</style></div>',
    '<div id="a">x<!-- ##@start|relateitem|a@## -->y</div><template id="t"><p id="p">z</p></template>',
    '<div id="a"><svg id="g"><text id="h">w</text></svg><math id="m"><mi>q</mi></math></div>',
    '<p id="a">x</p><textarea id="b">  y  </textarea><pre id="c">\tz</pre><title id="d">t</title>',
    '<div id="a"><![CDATA[c]]>d</div><img id="i" src="s"><br id="r"><div id="a">e</div>',
]


@pytest.mark.parametrize("html", TRICKY)
def test_every_way_of_measuring_agrees_on_tricky_markup(html):
    parsers = [{"name": None}, {"attrs": {"id": "a"}}]
    want = measured(html, parsers)
    assert measured(html, parsers, passthrough_from=0) == want
    assert measured(html, parsers, passthrough_from=2) == want
    assert measured(html, parsers, soup_class=PlainSubclassSoup) == want
    assert measured(html, parsers, index_override=True) == want


@settings(max_examples=100, deadline=None)
@given(html=documents(), switch=st.integers(0, 6), index_override=st.booleans(),
       parsers=st.sampled_from([PARSERS, [{"name": "div"}, {"attrs": {"class": "x"}}],
                                [{"name": None}, {"attrs": {"id": "a"}}, {"name": "p"}]]))
def test_every_way_of_measuring_agrees(html, switch, index_override, parsers):
    # Text next to a marker may swallow it (see above): every way then fails alike.
    def outcome(**options):
        try:
            return measured(html, parsers, **options)
        except (KeyError, IndexError) as e:
            return type(e), e.args

    assert outcome(passthrough_from=switch, index_override=index_override) == outcome()


def test_published_names_and_keywords():
    names = list(vars(quorl))
    at = names.index("ImageInfoParser")
    assert names[at:at + 4] == ["ImageInfoParser", "ItemInfoParser", "ContentParser",
                                "HtmlDocument"]
    # Every parameter answers to its published name.
    doc = quorl.HtmlDocument(content="<div id='claims'>A</div>", parserlist=[])
    assert doc.get_text(tag="claims") == "A"
    assert doc.parse_info(infolist=[], rawcontent="<p>B</p>") == {} and doc.text == "B"
    assert doc.info_index_parser(markcontent="x", pos=1) == {}
    assert doc._html_format(html=" <p> ") == "<p>"
    assert doc._get_content_with_break(soup=None) == ""
    assert doc.get_content(rawcontent="<p>x</p>")["claims"] == ""
    assert "pdferror" in doc.set_info(info={"claims": {"type": "relateitem"}})
    tree = bs4.BeautifulSoup("<img id='i'>", "lxml")
    assert list(quorl.ImageInfoParser(name=["img"], attrs={}).mark(soup=tree)) == ["i"]
    assert quorl.ContentParser(content="<p>x</p>", parserdict={}).get_content(content="<b>y</b>") \
        == "y"


# Ids that no marker can carry as they are (a line break, "|" or "@##" cut a marker short or
# split it) and ones that only look like marker syntax: every element is still measured, under
# its own id, and the document text holds no marker.
ODD_IDS = ["a&#10;b", "a\rb", "a\r\nb", "a\tb", "a@b", "x@", "a#b", "a|b", "|", "a@##b", "##@",
           "##@start|relateitem|x@##", "##@end|relateitem|claims@##", "claims|x", "中\r|@##"]


@pytest.mark.parametrize("soup_class", [None, PlainSubclassSoup], ids=["planned", "tree-edited"])
@pytest.mark.parametrize("raw_id", ODD_IDS)
def test_elements_with_odd_ids_are_measured(raw_id, soup_class):
    html = ('<div id="claims"><div id="%s">AB</div>C<div id="%s">D</div></div><p id="z">E</p>'
            % (raw_id, raw_id))
    parsers = [{"name": ["div", "p"]}]
    odd = lxml_tree(html).find("div", id=True).find("div")["id"]
    saved = quorl.BeautifulSoup
    try:
        if soup_class is not None:
            quorl.BeautifulSoup = soup_class
        doc = quorl.HtmlDocument(html, parsers)
    finally:
        quorl.BeautifulSoup = saved
    assert doc.text == "ABCDE"
    spans = {k: (r["id"], r["start"], r["end"]) for k, r in doc.infodict.items()}
    # The later element of a repeated id keeps the record, as for any id.
    assert spans == {"claims": ("claims", 0, 4), odd: (odd, 3, 4), "z": ("z", 4, 5)}
    # A caller's own text, with the line breaks of the raw HTML, is measured the same way.
    measured_raw = doc.parse_info(parsers, rawcontent=html.replace("&#10;", "\n"))
    assert doc.text == "ABCDE" and measured_raw[odd]["end"] == 4


def test_a_swallowed_start_names_the_odd_id():
    with pytest.raises(KeyError) as err:
        quorl.HtmlDocument('<p>#</p><div>#@<div id="a|b"></div>t</div>', PARSERS)
    assert err.value.args == ("a|b",)
