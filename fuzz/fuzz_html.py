"""Fuzzes HtmlDocument: markup built from patent-like pieces and arbitrary text, the marker
reader, and the writing of relations back into the HTML."""

import atheris
from common import check, consume_int, consume_text, main, seed_fields, tolerant

import quorl

PIECES = [
    "<div id='claims'>", "<div id='description'>", "<div id='drawings'>",
    "<div id='cn-bibliographic-info'>", "<div id='{}'>", "<div>", "</div>", "<h2 id='{}'>",
    "</h2>", "<img id='{}' src='f{}.png'/>", "<img id='{}'>", "<p>", "</p>", "<br/>", "<!--",
    "-->", "<![CDATA[", "]]>", "<script>", "</script>", "&amp;", "&#x1F600;", "&#xD800;", "<",
    ">", "\n", " ", "##@start|relateitem|{}@##", "##@end|relateitem|{}@##", "##@", "@##", "|",
]
PARSERS = [
    {"name": ["img", "div", "h2"]}, {"name": ["img"]}, {"attrs": {"id": "claims"}},
    {"name": "div", "attrs": {"class": "x"}}, {"name": None},
]


def consume_html(fdp, pieces):
    out = []
    for _ in range(fdp.ConsumeIntInRange(0, pieces)):
        if fdp.ConsumeIntInRange(0, 3) == 0:
            out.append(consume_text(fdp, 6))
        else:
            piece = fdp.PickValueInList(PIECES)
            out.append(piece.format(fdp.ConsumeIntInRange(0, 5), 0))
    return "".join(out)


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    real = seed_fields(data, 1)
    html = real[0] if real else consume_html(fdp, 60)
    parsers = [fdp.PickValueInList(PARSERS) for _ in range(fdp.ConsumeIntInRange(0, 2))]
    doc = tolerant(quorl.HtmlDocument, html, parserlist=parsers)
    if doc is not None:
        # Text that itself holds marker syntax may pair with the written markers; elsewhere
        # every marker must be gone from the document text.
        if "##@" not in html and "@##" not in html:
            check("##@" not in doc.text and "@##" not in doc.text, "marker left in the text", html)
        for key, rec in doc.infodict.items():
            check(isinstance(rec, dict), "record", html)
        tolerant(doc.get_text, fdp.PickValueInList([None, "claims", "description", "1", "zz"]))
        info = {}
        for _ in range(fdp.ConsumeIntInRange(0, 3)):
            rec = {"type": fdp.PickValueInList(["relateitem", "image", "x"]),
                   "pdf": [consume_int(fdp) for _ in range(fdp.ConsumeIntInRange(0, 3))]}
            if fdp.ConsumeBool():
                del rec[fdp.PickValueInList(["type", "pdf"])]
            info[fdp.PickValueInList(["claims", "description", "1", "2", "zz"])] = rec
        tolerant(doc.set_info, info)
        tolerant(doc.info_index_parser, consume_html(fdp, 12), consume_int(fdp))
        tolerant(doc._html_format, html)


if __name__ == "__main__":
    main(test_one_input)
