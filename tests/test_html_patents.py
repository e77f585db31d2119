"""HtmlDocument on the generated patent HTML."""
import bs4
import pytest

import quorl
from patents import generate_patent

SECTIONS = ["cn-bibliographic-info", "claims", "description", "drawings"]
PARSERS = [{"name": ["img", "div", "h2"]}]

CASES = [
    dict(seed=0),
    dict(seed=1, figures=0, abstract_figure=False),
    dict(seed=2, sequences=2, substitutions=3, insertions=2, deletions=2, halfwidth=2),
    dict(seed=3, claims=9, paragraphs=25, figures=4),
]


@pytest.fixture(scope="module", params=CASES, ids=lambda c: "seed%d" % c["seed"])
def patent(request):
    return generate_patent(**request.param)


@pytest.fixture(scope="module")
def doc(patent):
    return quorl.HtmlDocument(patent.html, PARSERS)


def test_text_is_the_newline_free_html_text(patent, doc):
    tree = bs4.BeautifulSoup(patent.html.replace("\n", ""), "lxml")
    assert doc.text == tree.text


def test_every_identified_element_is_measured(patent, doc):
    tree = bs4.BeautifulSoup(patent.html.replace("\n", ""), "lxml")
    elements = tree.find_all(["img", "div", "h2"], id=True)
    assert set(doc.infodict) == {e["id"] for e in elements}
    for element in elements:
        record = doc.infodict[element["id"]]
        assert doc.text[record["start"]:record["end"]] == element.get_text()
        assert (record["type"], record["id"]) == ("relateitem", element["id"])


def test_section_texts_are_the_generated_texts(patent, doc):
    for section in SECTIONS:
        assert doc.get_text(section) == "".join(patent.html_texts[section])
    # Sections follow each other in the document text.
    starts = [doc.infodict[s]["start"] for s in SECTIONS]
    assert starts == sorted(starts)


def test_get_content_keeps_the_raw_newlines(patent, doc):
    got = doc.get_content(patent.html)
    assert list(got) == SECTIONS
    for section in SECTIONS:
        assert got[section].replace("\n", "") == "".join(patent.html_texts[section])


def test_set_info_writes_a_class_per_related_element(patent, doc):
    info = {}
    for n, (key, record) in enumerate(doc.infodict.items()):
        info[key] = dict(record, relatelist=list(range(n % 3)))
    out = doc.set_info(info)
    tree = bs4.BeautifulSoup(out, "lxml")
    raw = bs4.BeautifulSoup(patent.html, "lxml")
    for n, key in enumerate(info):
        want = ["pdferror", "pdf0", "pdf0_1"][n % 3]
        before = raw.find(id=key).get("class") or []
        assert tree.find(id=key).get("class") == before + [want]
    # Nothing but the classes changed.
    for tag in tree.find_all(class_=True):
        kept = [c for c in tag["class"] if not c.startswith("pdf")]
        if kept:
            tag["class"] = kept
        else:
            del tag["class"]
    assert tree.decode() == raw.decode()
