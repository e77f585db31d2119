"""The info parsers and ContentParser: records, markers, and the elements they choose."""
import re

import bs4
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import quorl


def soup(html):
    return bs4.BeautifulSoup(html, "lxml")


def reference_mark(tree, tagname, name, attrs, with_src):
    """mark() written out with BeautifulSoup's own find_all."""
    infodict = {}
    for element in tree.find_all(name=name, attrs=attrs):
        record = {"type": tagname, "id": element.get("id", None)}
        if with_src:
            record["src"] = element.get("src", "")
        record["start"] = -1
        record["end"] = -1
        if not record["id"]:
            continue
        infodict[record["id"]] = record
        element.insert(0, "##@start|{}|{}@##".format(tagname, record["id"]))
        element.append("##@end|{}|{}@##".format(tagname, record["id"]))
    return infodict


class TestAttributes:
    def test_item_parser_defaults_and_order(self):
        p = quorl.ItemInfoParser()
        assert list(vars(p)) == ["tagname", "infodict", "itemname", "attrs"]
        assert p.tagname == "relateitem" and p.infodict == {} and p.itemname is None
        assert p.attrs == {}
        assert type(p).__module__ == "quorl" and type(type(p)) is type

    def test_image_parser_defaults(self):
        p = quorl.ImageInfoParser()
        assert (p.tagname, p.itemname, p.attrs) == ("image", ["img"], {})

    def test_defaults_are_shared_objects_and_stay_unchanged(self):
        a, b = quorl.ImageInfoParser(), quorl.ImageInfoParser()
        assert a.itemname is b.itemname and a.attrs is b.attrs
        assert quorl.ItemInfoParser().attrs is quorl.ItemInfoParser().attrs
        tree = soup('<img id="f1"><div id="d">x</div>')
        a.mark(tree)
        quorl.ItemInfoParser().mark(tree)
        assert a.itemname == ["img"] and a.attrs == {} and quorl.ItemInfoParser().attrs == {}
        # Each parser has its own records.
        assert a.infodict is not b.infodict

    def test_arguments_are_kept_as_given(self):
        names, attrs = ["div"], {"class": "claim"}
        p = quorl.ItemInfoParser(name=names, attrs=attrs)
        assert p.itemname is names and p.attrs is attrs

    def test_unknown_keyword_is_a_type_error(self):
        with pytest.raises(TypeError):
            quorl.ItemInfoParser(tag="div")

    def test_no_docstrings(self):
        for cls in (quorl.ItemInfoParser, quorl.ImageInfoParser, quorl.ContentParser):
            assert cls.__doc__ is None
            for method in ("__init__", "mark", "get_content", "__str__"):
                if method in vars(cls):
                    assert getattr(cls, method).__doc__ is None


class TestMark:
    def test_claims_example(self):
        tree = soup('<div id="claims">A</div>')
        got = quorl.ItemInfoParser(attrs={"id": "claims"}).mark(tree)
        assert tree.text == "##@start|relateitem|claims@##A##@end|relateitem|claims@##"
        assert list(got["claims"].items()) == [("type", "relateitem"), ("id", "claims"),
                                               ("start", -1), ("end", -1)]

    def test_image_without_src(self):
        tree = soup('<p><img id="f1"></p>')
        got = quorl.ImageInfoParser().mark(tree)
        assert list(got["f1"].items()) == [("type", "image"), ("id", "f1"), ("src", ""),
                                           ("start", -1), ("end", -1)]
        img = tree.find("img")
        assert [str(c) for c in img.contents] == ["##@start|image|f1@##", "##@end|image|f1@##"]

    def test_image_src_is_recorded(self):
        got = quorl.ImageInfoParser().mark(soup('<img id="f2" src="a.png">'))
        assert got["f2"]["src"] == "a.png"

    def test_elements_without_or_with_empty_id_are_untouched(self):
        html = '<div>a</div><div id="">b</div><div id="x">c</div>'
        tree = soup(html)
        got = quorl.ItemInfoParser(name="div").mark(tree)
        assert list(got) == ["x"]
        assert [d.text for d in tree.find_all("div")] == \
            ["a", "b", "##@start|relateitem|x@##c##@end|relateitem|x@##"]

    def test_name_list_marks_every_listed_element_with_an_id(self):
        tree = soup('<h2 id="h" class="z">t</h2><div id="d" title="q">u</div><img id="i">'
                    '<p id="p">v</p><span id="s">w</span>')
        got = quorl.ItemInfoParser(name=["img", "div", "h2"]).mark(tree)
        assert list(got) == ["h", "d", "i"]

    def test_second_mark_adds_a_second_pair_and_returns_the_same_dict(self):
        tree = soup('<div id="a">x</div>')
        p = quorl.ItemInfoParser()
        first = p.mark(tree)
        second = p.mark(tree)
        assert first is second is p.infodict
        assert tree.find("div").text == ("##@start|relateitem|a@##" * 2 + "x" +
                                         "##@end|relateitem|a@##" * 2)

    def test_nested_and_duplicate_ids(self):
        tree = soup('<div id="o"><div id="i">x</div><div id="o">y</div></div>')
        got = quorl.ItemInfoParser().mark(tree)
        assert list(got) == ["o", "i"]
        assert tree.text == ("##@start|relateitem|o@####@start|relateitem|i@##x"
                             "##@end|relateitem|i@####@start|relateitem|o@##y"
                             "##@end|relateitem|o@####@end|relateitem|o@##")

    def test_two_parsers_on_one_element_nest_their_pairs(self):
        tree = soup('<div id="claims">A</div>')
        quorl.ItemInfoParser(name="div").mark(tree)
        quorl.ImageInfoParser(name="div").mark(tree)
        assert tree.text == ("##@start|image|claims@####@start|relateitem|claims@##A"
                             "##@end|relateitem|claims@####@end|image|claims@##")

    def test_not_a_tree_fails_at_find_all(self):
        with pytest.raises(AttributeError, match="find_all"):
            quorl.ItemInfoParser().mark("<div id='a'></div>")

    def test_a_tag_subtree_can_be_marked(self):
        tree = soup('<div id="a"><p id="b">x</p></div><p id="c">y</p>')
        got = quorl.ItemInfoParser().mark(tree.find("div"))
        assert list(got) == ["b"]

    def test_overridden_find_all_is_used(self):
        class Only(bs4.BeautifulSoup):
            def find_all(self, *args, **kwargs):
                return super().find_all("p")

        tree = Only('<div id="a">x</div><p id="b">y</p>', "lxml")
        assert list(quorl.ItemInfoParser(name="div").mark(tree)) == ["b"]

    def test_regex_and_function_filters(self):
        html = '<div id="a" class="k">1</div><h2 id="b">2</h2><p id="c" class="k m">3</p>'
        for name, attrs in [(re.compile("^h"), {}), (lambda t: t.name == "p", {}),
                            (None, {"class": re.compile("m")}), ("div", {"id": ["a", "c"]}),
                            (None, {"class": lambda v: v == "m"})]:
            a, b = soup(html), soup(html)
            got = quorl.ItemInfoParser(name=name, attrs=attrs).mark(a)
            assert got == reference_mark(b, "relateitem", name, attrs, False)
            assert a.decode() == b.decode()

    def test_prefixed_tags_follow_find_all(self):
        html = '<div id="a">1</div><div id="b">2</div>'
        a, b = soup(html), soup(html)
        for t in (a, b):
            t.find_all("div")[1].prefix = "svg"
        for name in ("div", "svg:div", ["svg:div"]):
            assert quorl.ItemInfoParser(name=name).mark(a) == \
                reference_mark(b, "relateitem", name, {}, False)
        assert a.decode() == b.decode()


# Random documents and filters: the parsers must choose exactly what find_all chooses.
TAGS = ["div", "p", "img", "h2", "span"]
IDS = ["a", "b", "claims", ""]
CLASSES = ["x", "y", "x y", ""]


@st.composite
def documents(draw, depth=0):
    parts = []
    for _ in range(draw(st.integers(0, 4 if depth < 3 else 0))):
        if draw(st.booleans()):
            parts.append(draw(st.sampled_from(["t", "中文", " ", "#", "@"])))
            continue
        tag = draw(st.sampled_from(TAGS))
        attrs = ""
        if draw(st.booleans()):
            attrs += ' id="%s"' % draw(st.sampled_from(IDS))
        if draw(st.booleans()):
            attrs += ' class="%s"' % draw(st.sampled_from(CLASSES))
        if draw(st.booleans()):
            attrs += ' src="s.png"'
        if tag == "img":
            parts.append("<img%s>" % attrs)
        else:
            parts.append("<%s%s>%s</%s>" % (tag, attrs, draw(documents(depth + 1)), tag))
    return "".join(parts)


names = st.sampled_from([None, True, "div", "img", ["img", "div", "h2"], ("p", "span"), ["zz"]])
attr_filters = st.sampled_from([None, {}, {"id": "a"}, {"id": "claims"}, {"class": "x"},
                                {"class": "x y"}, {"class": "y x"}, {"id": True},
                                {"id": False}, {"id": None}, {"id": "a", "class": "y"},
                                {"src": True}, {"class": ""}, {"id": ""}])


@settings(max_examples=300, deadline=None)
@given(html=documents(), name=names, attrs=attr_filters, image=st.booleans())
def test_mark_chooses_what_find_all_chooses(html, name, attrs, image):
    a, b = soup(html), soup(html)
    cls = quorl.ImageInfoParser if image else quorl.ItemInfoParser
    got = cls(name=name, attrs=attrs).mark(a)
    want = reference_mark(b, "image" if image else "relateitem", name, attrs, image)
    assert list(got.items()) == list(want.items())
    assert a.decode() == b.decode()


class TestContentParser:
    def test_attributes_and_text(self):
        html = '<div id="x">  a \n <b>b</b> </div>\n<p class="y">c</p>'
        cp = quorl.ContentParser(html, {"attrs": {"id": "x"}, "tagname": "t"})
        assert list(vars(cp)) == ["content", "tagname", "attrs", "text"]
        assert cp.content == '<div id="x">a<b>b</b></div><p class="y">c</p>'
        assert (cp.tagname, cp.attrs, cp.text) == ("t", {"id": "x"}, "ab")
        assert str(cp) == "ab"

    def test_defaults(self):
        cp = quorl.ContentParser("<p>a</p> <p>b</p>")
        assert (cp.tagname, cp.attrs, cp.text) == ("", {}, "ab")

    def test_get_content_reads_only_matching_elements(self):
        cp = quorl.ContentParser("<p>x</p>", {"attrs": {"class": "k"}})
        html = '<div class="k">one</div><div>two</div><span class="k">three</span>'
        assert cp.get_content(html) == "onethree"
        assert cp.text == ""

    def test_str_follows_text(self):
        cp = quorl.ContentParser("<p>x</p>")
        cp.text = "changed"
        assert str(cp) == "changed"

    def test_content_must_be_text(self):
        with pytest.raises(TypeError, match="content must be str"):
            quorl.ContentParser(b"<p>x</p>")

    def test_subclass_get_content_is_used(self):
        class Upper(quorl.ContentParser):
            def get_content(self, content):
                return content.upper()

        assert Upper(" <p> x </p> ").text == "<P>X</P>"


def test_plain_filters_are_searched_without_find_all(monkeypatch):
    # The walk in the module stands in for find_all on plain filters; anything else is handed on.
    calls = []
    original = bs4.element.Tag.find_all

    def counting(self, *args, **kwargs):
        calls.append(kwargs)
        return original(self, *args, **kwargs)

    tree = soup('<div id="a" class="k">x</div><img id="b">')
    monkeypatch.setattr(bs4.element.Tag, "find_all", counting)
    assert list(quorl.ItemInfoParser(name=["img", "div", "h2"]).mark(tree)) == ["a", "b"]
    assert list(quorl.ItemInfoParser(attrs={"class": "k"}).mark(tree)) == ["a"]
    assert calls == []
    assert list(quorl.ItemInfoParser(name=re.compile("img")).mark(tree)) == ["b"]
    assert len(calls) == 1
