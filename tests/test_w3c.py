"""W3C Web Annotations given to quorl-mark as MARKS: quorl-extract's own export comes back as the
marks it read, every container and selector a client writes is anchored on the stretch it
selects, the bodies make the mark, and what cannot be anchored is named."""
import json

import pytest

import patents
from patent_files import spread_marks
from quorl_mark.commands import extract as extract_cli
from test_marks_phrases import mark

FIELDS = ("start", "end", "type", "title", "content", "info")


@pytest.fixture(scope="module")
def patent(tmp_path_factory):
    folder = tmp_path_factory.mktemp("w3c")
    made = patents.generate_patent(4, pages=4)
    (folder / "p.html").write_text(made.html, encoding="utf-8")
    (folder / "p.pdf").write_bytes(made.pdf)
    return folder, made.html


def test_quorls_own_export_comes_back_as_the_marks_it_read(patent, capsys):
    folder, html = patent
    marks = spread_marks(html, 12)
    assert {m["type"] for m in marks} == {"par", "cth", "equal", "imgpar", "imgig", "flag"}
    assert mark(folder, marks)[0] == 0
    read = []
    for form, name in (("marks", "records.json"), ("w3c", "w3c.json")):
        assert extract_cli.main([str(folder / "p.html"), str(folder / "out.pdf"), "-o",
                                 str(folder / name), "--format", form, "-q"]) == 0
        read.append(json.loads((folder / name).read_text(encoding="utf-8")))
    records, collection = read
    status, back = mark(folder, collection)
    assert status == 0
    assert [{k: m.get(k) for k in FIELDS} for m in back] == [
        {k: r.get(k) for k in FIELDS} for r in records]


def annotation(selector, body=None, **extra):
    return {"@context": "http://www.w3.org/ns/anno.jsonld", "type": "Annotation",
            "id": "urn:x:1", "body": body or [],
            "target": {"source": "p.html", "selector": selector}, **extra}


@pytest.fixture(scope="module")
def stretch(patent):
    """A stretch inside the second claim: its document-text span and its body-text start."""
    folder, html = patent
    from quorl_mark.anchoring import body_text
    import quorl

    doc = quorl.HtmlDocument(html, parserlist=[{"name": ["img", "div", "h2"]}])
    browser = body_text(html)
    start = next(s for s in range(doc.infodict["cl0002"]["start"], doc.infodict["cl0002"]["end"])
                 if doc.text.count(doc.text[s:s + 12]) == 1)
    end = start + 12
    phrase = doc.text[start:end]
    assert browser.count(phrase) == 1
    return start, end, browser.index(phrase), doc.text, browser


@pytest.mark.parametrize("form", ["position", "quote", "both", "stale position", "range",
                                  "refined", "document offsets"])
def test_every_selector_a_client_writes_lands_on_the_stretch(patent, stretch, form):
    folder, _ = patent
    start, end, at, text, browser = stretch
    exact = text[start:end]
    position = {"type": "TextPositionSelector", "start": at, "end": at + len(exact)}
    quote = {"type": "TextQuoteSelector", "exact": exact, "prefix": browser[at - 32:at],
             "suffix": browser[at + len(exact):at + len(exact) + 32]}
    selector = {
        "position": position, "quote": quote, "both": [position, quote],
        "stale position": [dict(position, start=at + 40, end=at + 52), quote],
        "range": {"type": "RangeSelector",
                  "startSelector": {"type": "TextPositionSelector", "start": at, "end": at},
                  "endSelector": {"type": "TextPositionSelector", "start": at + len(exact),
                                  "end": at + len(exact)}},
        "refined": {"type": "FragmentSelector", "value": "claims", "refinedBy": quote},
        # quorl's earlier export: positions in the document text, context from it too
        "document offsets": [{"type": "TextPositionSelector", "start": start, "end": end},
                             dict(quote, prefix=text[start - 32:start],
                                  suffix=text[end:end + 32])],
    }[form]
    status, placed = mark(folder, annotation(selector))
    assert status == 0 and [(m["start"], m["end"]) for m in placed] == [(start, end)]
    assert placed[0]["annotation"] == "urn:x:1" and placed[0]["rects"]


# Bodies a client writes and the (type, title, content) they make.
BODIES = [
    ([], ("cth", "", "")),
    ({"type": "TextualBody", "value": "par", "purpose": "tagging"}, ("par", "", "")),
    ([{"value": "imgig", "purpose": "tagging"}, {"value": "看这里", "purpose": "commenting"}],
     ("imgig", "", "看这里")),
    ([{"value": "equal", "purpose": "tagging"}, {"value": "7", "purpose": "identifying"},
      {"value": "important", "purpose": "tagging"}], ("equal", "7", "")),
    ({"type": "TextualBody", "value": "a note"}, ("cth", "", "a note")),
]


@pytest.mark.parametrize("container", ["list", "page", "collection"])
def test_every_container_gives_its_annotations_their_bodies_make_the_marks(patent, stretch,
                                                                            container):
    folder, _ = patent
    start, end, at, _, _ = stretch
    items = [annotation({"type": "TextPositionSelector", "start": at + i, "end": at + i + 4},
                        body, id="urn:x:%d" % i) for i, (body, _) in enumerate(BODIES)]
    page = {"type": "AnnotationPage", "items": items[:2],
            "next": {"type": "AnnotationPage", "items": items[2:]}}
    data = {"list": items, "page": page,
            "collection": {"@context": "http://www.w3.org/ns/anno.jsonld",
                           "type": "AnnotationCollection", "first": page}}[container]
    status, placed = mark(folder, data)
    assert status == 0 and [m["start"] for m in placed] == list(range(start, start + 5))
    assert [(m["type"], m["title"], m["content"]) for m in placed] == [f for _, f in BODIES]


@pytest.mark.parametrize("target, reason", [
    ({"source": "p.pdf", "selector": {"type": "FragmentSelector", "value": "page=2"}},
     "its target is page 2 of the PDF"),
    ({"source": "p.html", "selector": {"type": "TextQuoteSelector", "exact": "量子纠缠传态"}},
     "is not in the document text"),
    ({"source": "p.html", "selector": {"type": "TextQuoteSelector", "exact": "所述"}},
     'give its TextQuoteSelector a "prefix" or "suffix"'),  # said as a client can say it
    ("p.html", "its target selects no text"),
])
def test_an_annotation_that_cannot_be_anchored_is_named(patent, stretch, target, reason,
                                                         capsys):
    folder, _ = patent
    _, _, at, _, _ = stretch
    good = annotation({"type": "TextPositionSelector", "start": at, "end": at + 4})
    bad = dict(good, id="urn:x:bad", target=target)
    assert mark(folder, [good, bad])[0] == 1
    err = capsys.readouterr().err
    assert "annotation 2 (urn:x:bad) cannot be placed" in err and reason in err
    status, placed = mark(folder, [good, bad], "--skip-unplaced")
    assert status == 0 and placed[0]["rects"] and reason in placed[1]["reason"]
