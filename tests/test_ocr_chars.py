"""Characters of a scan's text layer where the page prints them: punctuation and Latin characters
set half an em wide (older publications) or a full em and at Helvetica's widths (generated
patents), told apart by Tesseract's rough character boxes; and a real publication's scan marked
as its text PDF is."""
import json
import os
import random
import re
import sys

import pymupdf
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "bench"))

import quorl  # noqa: E402
from ocr_measure import mark_ious  # noqa: E402
from quorl_mark.commands import mark as cli  # noqa: E402
from quorl_mark.ocr.hocr import OcrLine, Word  # noqa: E402
from quorl_mark.ocr.lines import advance_of, narrow_setting, printed_ink, text_lines  # noqa: E402
from real_patents import pdf_path, standin_html  # noqa: E402
from scans import office_scan  # noqa: E402

SIZE = 10.5
TEXT = ["所述方法，包括步骤S1和S2：对日志进行扫描，得到模板、参数；再根据",
        "权利要求1所述的方法，其中，第2步中N为10，Ai取值0.5。如图3所示",
        "获取数据（例如CPU占用率），计算阈值；若超过，则报警，否则记录"]


def printed(text, narrow, top, rng):
    """``text`` printed from x 72 as one OcrLine, one word a character as Tesseract reads
    Chinese, with the origins it was printed at; each character's start as rough as
    Tesseract's (a Chinese character's a third of an em late, any a quarter of an em off
    either way)."""
    origins, x = [], 72.0
    for ch in text:
        origins.append(x)
        x += advance_of(ch, narrow) * SIZE
    inks = [(o + printed_ink(ch, narrow)[0] * SIZE, o + printed_ink(ch, narrow)[1] * SIZE)
            for ch, o in zip(text, origins)]
    starts = [a + (0.35 * ("\u4e00" <= ch <= "\u9fff") + rng.uniform(-0.25, 0.25)) * SIZE
              for ch, (a, _) in zip(text, inks)]
    words, k = [], 0
    for word in re.findall(r"[0-9A-Za-z.]+|.", text):  # Latin words whole, Chinese apart
        words.append(Word(word, (inks[k][0], top, inks[k + len(word) - 1][1], top + SIZE),
                          95.0, tuple(starts[k:k + len(word)])))
        k += len(word)
    return OcrLine((inks[0][0], top, inks[-1][1], top + SIZE), top + 0.9 * SIZE, words), origins


@pytest.mark.parametrize("narrow", [False, True])
@pytest.mark.parametrize("seed", [1, 2])
def test_each_character_is_set_where_it_is_printed(narrow, seed):
    rng = random.Random(seed)
    page = [printed(text, narrow, 100 + 18 * i, rng) for i, text in enumerate(TEXT * 3)]
    lines = [line for line, _ in page]
    assert narrow_setting([lines]) == narrow
    layer = text_lines(lines, narrow=narrow_setting([lines]))
    assert "".join(line.text for line in layer).replace(" ", "") == "".join(TEXT * 3)
    set_at = [x for line in layer for ch, x in line.chars if ch != " "]
    truth = [x for _, origins in page for x in origins]
    off = sorted(abs(a - b) / SIZE for a, b in zip(set_at, truth))
    # Where Helvetica sets a Latin character narrower than printed, the characters after it
    # stay a little behind (a gap would read as a blank) until the next overshoot.
    assert off[-1] <= 0.3 and off[int(0.9 * len(off))] <= 0.1


def short_marks(html, count):
    """``count`` marks of three characters spread over the description's paragraphs."""
    htmldoc = quorl.HtmlDocument(html, parserlist=[{"name": ["img", "div", "h2"]}])
    records = [htmldoc.infodict[i] for i in sorted(htmldoc.infodict)
               if i[:2] == "p0" and i[2:].isdigit()]
    rng = random.Random(3)
    marks = []
    for record in records:
        for _ in range(4):
            if record["end"] - record["start"] > 8:
                start = rng.randrange(record["start"], record["end"] - 4)
                marks.append({"start": start, "end": start + 3, "type": "cth",
                              "title": str(len(marks) + 1), "content": "short"})
    return rng.sample(marks, min(count, len(marks)))


def test_a_real_publications_scan_marks_short_spans_as_its_text_pdf(tmp_path):
    """Two description pages of a publication that sets punctuation and Latin characters half
    an em wide, rasterised: marks of three characters, many after a comma or a number on their
    line, cover on the scan what they cover on the text PDF."""
    text = pymupdf.open(pdf_path("CN110532550A"))
    text.select([0, 4, 5])
    (tmp_path / "text.pdf").write_bytes(text.tobytes())
    (tmp_path / "scan.pdf").write_bytes(office_scan(text.tobytes(), 300, skew=0.4, seed=1))
    html = standin_html("CN110532550A")
    (tmp_path / "p.html").write_text(html, encoding="utf-8")
    (tmp_path / "marks.json").write_text(json.dumps(short_marks(html, 400)), encoding="utf-8")
    rects = {}
    for name in ("text", "scan"):
        out = tmp_path / (name + ".json")
        assert cli.main([str(tmp_path / "p.html"), str(tmp_path / (name + ".pdf")),
                         str(tmp_path / "marks.json"), "-o", str(tmp_path / (name + "-out.pdf")),
                         "--marks-out", str(out), "--allow-mismatch", "--skip-unplaced",
                         "-q"]) == 0
        rects[name] = {m["title"]: m["rects"] for m in json.loads(out.read_text("utf-8"))}
    # The marks the text PDF places on the two description pages.
    placed = [title for title, found in rects["text"].items()
              if found and {r[0] for r in found} <= {1, 2}]
    assert len(placed) >= 40
    ious = [min(mark_ious(rects["text"][t], rects["scan"].get(t) or []).values() or [0.0])
            for t in placed]
    assert sum(i >= 0.7 for i in ious) >= 0.85 * len(ious), sorted(ious)
