"""W3C annotations as web annotation clients count them, checked in Chromium (Debian's
/usr/bin/chromium driven by Playwright): quorl-extract's export holds its quote at its position
in ``document.body.textContent``, and stretches selected in the page with a DOM Range, made into
annotations as a client makes them, are marked by quorl-mark on the characters the same stretch
given by offsets covers."""
import json
import pathlib

import pytest

import patents
import quorl
from patent_files import spread_marks
from quorl_mark.commands import extract as extract_cli, mark as mark_cli
from test_review import browser  # noqa: F401  (the Chromium fixture)

# A client's selectors for a Range: its position in body.textContent and its quote with 32
# characters of context, counted in code points (as the annotation model counts).
CLIENT = """([startId, startAt, endId, endAt]) => {
    const place = (id, at) => {  // the text node and offset ``at`` characters into an element
        const walker = document.createTreeWalker(document.getElementById(id), NodeFilter.SHOW_TEXT);
        for (let node = walker.nextNode(); node; node = walker.nextNode()) {
            if (at <= node.data.length) return [node, at];
            at -= node.data.length;
        }
        throw new Error("no offset " + at + " in " + id);
    };
    const range = document.createRange();
    range.setStart(...place(startId, startAt));
    range.setEnd(...place(endId, endAt));
    const before = document.createRange();
    before.setStart(document.body, 0);
    before.setEnd(range.startContainer, range.startOffset);
    const text = Array.from(document.body.textContent);
    const start = Array.from(before.toString()).length;
    const exact = range.toString(), end = start + Array.from(exact).length;
    return {"@context": "http://www.w3.org/ns/anno.jsonld", "type": "Annotation",
            "body": [{"type": "TextualBody", "value": "par", "purpose": "tagging"},
                     {"type": "TextualBody", "value": "1", "purpose": "identifying"}],
            "target": {"source": location.href, "selector": [
                {"type": "TextPositionSelector", start, end},
                {"type": "TextQuoteSelector", exact,
                 "prefix": text.slice(Math.max(0, start - 32), start).join(""),
                 "suffix": text.slice(end, end + 32).join("")}]}};
}"""


def page_variants(html):
    """The page as generated, and with what a browser's text counts differently: a <br> inside
    a paragraph, a script and a style between elements, an inline element, CRLF line ends."""
    varied = html.replace('<div id="p0003" class="description-paragraph">[0003]',
                          '<div id="p0003" class="description-paragraph">[0003]<br>')
    varied = varied.replace('<div id="claims">', '<script>var q = "<b>&amp;";\n</script>\n'
                            '<style>\n.claim { color: black }\n</style>\n<div id="claims">')
    varied = varied.replace('<div id="cl0002" class="claim">', '<div id="cl0002" class="claim">'
                            '<span>').replace("</div>\n<div id=\"cl0003\"",
                                              "</span></div>\n<div id=\"cl0003\"", 1)
    return {"plain": html, "varied": varied, "crlf": varied.replace("\n", "\r\n")}


@pytest.fixture(scope="module")
def made():
    return patents.generate_patent(6, pages=5, restated=True)


@pytest.fixture(scope="module", params=["plain", "varied", "crlf"])
def page(request, made, tmp_path_factory, browser):  # noqa: F811
    """The folder with the page's HTML and the PDF, and body.textContent as Chromium gives it."""
    folder = tmp_path_factory.mktemp(request.param)
    (folder / "p.html").write_bytes(page_variants(made.html)[request.param].encode("utf-8"))
    (folder / "p.pdf").write_bytes(made.pdf)
    tab = browser.new_page()
    tab.goto((folder / "p.html").as_uri())
    yield folder, tab, tab.evaluate("document.body.textContent")
    tab.close()


def run_mark(folder, marks, name):
    (folder / (name + ".json")).write_text(json.dumps(marks, ensure_ascii=False), encoding="utf-8")
    out = folder / (name + ".out.json")
    assert mark_cli.main([str(folder / "p.html"), str(folder / "p.pdf"),
                          str(folder / (name + ".json")), "-o", str(folder / (name + ".pdf")),
                          "--marks-out", str(out), "-q"]) == 0
    return json.loads(out.read_text(encoding="utf-8"))


def test_exported_positions_hold_their_quote_in_chromium(page):
    folder, _, body = page
    marks = spread_marks((folder / "p.html").read_text(encoding="utf-8"), 24)
    run_mark(folder, marks, "marks")
    assert extract_cli.main([str(folder / "p.html"), str(folder / "marks.pdf"), "-o",
                             str(folder / "w3c.json"), "--format", "w3c", "-q"]) == 0
    items = json.loads((folder / "w3c.json").read_text(encoding="utf-8"))["first"]["items"]
    assert len(items) == len(marks)
    for item in items:
        position, quote = item["target"]["selector"]
        start, end = position["start"], position["end"]
        assert body[start:end] == quote["exact"]
        context = quote["prefix"] + quote["exact"] + quote["suffix"]
        assert body.count(context) == 1 or body.find(context, start - len(quote["prefix"])) \
            == start - len(quote["prefix"])


def stretches(html):
    """(name, [start element, offset, end element, offset], document-text span) of the
    stretches selected in the page: inside a claim, across two claims, a stretch of the first
    claim that its restatement repeats in the description, and across the <br>."""
    doc = quorl.HtmlDocument(html, parserlist=[{"name": ["img", "div", "h2"]}])
    info, text = doc.infodict, doc.text
    first = info["cl0001"]
    repeated = next(s for s in range(first["start"], first["end"] - 20)
                    if text.count(text[s:s + 20]) > 1)
    length = first["end"] - first["start"]
    last_claim = max(i for i in info if i.startswith("cl"))
    copy = text.find(text[repeated:repeated + 20], info[last_claim]["end"])
    assert info["description"]["start"] <= copy < info["description"]["end"]
    holder = min((i for i in info if i[:2] in ("p0", "cl") and info[i]["start"] <= copy
                  < info[i]["end"]), key=lambda i: info[i]["end"] - info[i]["start"])
    at = copy - info[holder]["start"]
    places = [
        ("inside a claim", ["cl0002", 2, "cl0002", 14]),
        ("across two claims", ["cl0001", length - 5, "cl0002", 6]),
        ("repeated in the description", ["cl0001", repeated - first["start"], "cl0001",
                                         repeated - first["start"] + 20]),
        ("its repetition", [holder, at, holder, at + 20]),
        ("across the <br>", ["p0003", 2, "p0003", 10]),
    ]
    return [(name, where, (info[where[0]]["start"] + where[1], info[where[2]]["start"] + where[3]))
            for name, where in places]


def test_stretches_selected_in_chromium_are_marked_on_their_characters(page):
    folder, tab, _ = page
    chosen = stretches((folder / "p.html").read_bytes().decode("utf-8"))
    annotations = [tab.evaluate(CLIENT, where) for _, where, _ in chosen]
    by_offsets = [{"start": s, "end": e, "type": "par", "title": "1", "content": ""}
                  for _, _, (s, e) in chosen]
    anchored = run_mark(folder, annotations, "browser")
    expected = run_mark(folder, by_offsets, "offsets")
    for (name, _, span), got, want in zip(chosen, anchored, expected):
        assert (got["start"], got["end"]) == span, name
        assert got["rects"] == want["rects"] and got["rects"], name
    assert pathlib.Path(folder / "browser.pdf").stat().st_size > 0
