"""A scan's text layer says what the page prints, whatever the patent's HTML says: marked against
an HTML edited in several places, digits and the bibliographic header included, the layer of a
scan and of a born-digital PDF read again (--ocr always) holds none of the HTML's words."""
import difflib
import pathlib

import pymupdf
import pytest

import quorl
from quorl_mark.commands import mark as cli
from scans import office_scan

EXAMPLES = pathlib.Path(__file__).parent.parent / "examples"
# (printed, as the edited HTML has it): one character, a Latin symbol's digit, the postcode, a
# share, words of two characters, the application number's digit, and an insertion.
EDITS = [("温度参数", "湿度参数"), ("S217", "S817"), ("751390", "751398"), ("2%", "9%"),
         ("获取", "删除"), ("存储", "清除"), ("201514320244", "201514320248"),
         ("发送", "发出送")]


def page_texts(pdf):
    return ["".join(page.get_text().split()) for page in pymupdf.open(pdf)]


@pytest.fixture(scope="module")
def edited(tmp_path_factory):
    folder = tmp_path_factory.mktemp("edited")
    html = (EXAMPLES / "sample.html").read_text(encoding="utf-8")
    for printed, written in EDITS:
        # The first time the text holds it, not in the markup.
        at = html.index(printed, html.index("<body"))
        html = html[:at] + written + html[at + len(printed):]
    (folder / "edited.html").write_text(html, encoding="utf-8")
    pdf = EXAMPLES / "sample.pdf"
    scan = folder / "scan.pdf"
    scan.write_bytes(office_scan(pdf.read_bytes(), 300, skew=0.4, seed=2))
    return folder, pdf, scan


@pytest.mark.parametrize("source, ocr", [("scan", "auto"), ("text", "always")])
def test_the_layer_holds_what_the_page_prints_not_the_html(edited, source, ocr):
    folder, pdf, scan = edited
    out = folder / ("%s-marked.pdf" % source)
    marks = str(EXAMPLES / "sample-marks.json")
    assert cli.main([str(folder / "edited.html"), str(scan if source == "scan" else pdf), marks,
                     "-o", str(out), "--ocr", ocr, "--allow-mismatch", "--skip-unplaced",
                     "-q"]) == 0
    printed, layer = page_texts(pdf), page_texts(out)
    # None of the HTML's words that the page does not print is in the layer...
    absent = [written for _, written in EDITS if not any(written in text for text in printed)]
    assert len(absent) >= 6
    assert [written for written in absent if any(written in text for text in layer)] == []
    # ... nor found by a search, where the page's own words are.
    shown = pymupdf.open(out)
    assert [len(page.search_for("湿度参数")) for page in shown] == [0] * len(printed)
    assert sum(len(page.search_for("温度参数")) for page in shown) >= 6


@pytest.mark.parametrize("a, b", [(b"x", "y"), ("x", None)])
def test_opcodes_take_only_text(a, b):
    assert quorl._opcodes("步又S", "步骤S") == \
        difflib.SequenceMatcher(None, "步又S", "步骤S", autojunk=False).get_opcodes()
    with pytest.raises(TypeError, match="must be str"):
        quorl._opcodes(a, b)
