"""Marks given by their text: quorl-mark and quorl-batch find each phrase in the document text,
choose among repeats as the record asks, refuse what is missing or ambiguous in words, and
quorl-text --find shows the occurrences. The oracle is str.find over quorl-text's text."""
import json
import random
import re

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import patents
from quorl_mark.anchoring import anchor_marks
from quorl_mark.anchoring.text_index import fold
from quorl_mark.batch import mark_batch
from quorl_mark.commands import mark as mark_cli, text as text_cli

SECTIONS = ("cn-bibliographic-info", "claims", "description", "drawings")


def occurrences(text, phrase):
    return [m.start() for m in re.finditer("(?=%s)" % re.escape(phrase), text)]


def document(folder, capsys):
    assert text_cli.main([str(folder / "p.html"), "--json"]) == 0
    return json.loads(capsys.readouterr().out)


def mark(folder, marks, *options):
    """quorl-mark's status and --marks-out for the patent in ``folder`` and these marks."""
    (folder / "m.json").write_text(json.dumps(marks, ensure_ascii=False), encoding="utf-8")
    out = folder / "out.json"
    status = mark_cli.main([str(folder / "p.html"), str(folder / "p.pdf"), str(folder / "m.json"),
                            "-o", str(folder / "out.pdf"), "--marks-out", str(out), "-q",
                            *options])
    return status, json.loads(out.read_text(encoding="utf-8")) if status == 0 else None


@pytest.fixture(scope="module")
def patent(tmp_path_factory):
    """A patent whose last claim restates the first and whose summary restates every claim, so
    that claim features repeat in the description."""
    folder = tmp_path_factory.mktemp("phrases")
    made = patents.generate_patent(5, pages=12, restated=True)
    (folder / "p.html").write_text(made.html, encoding="utf-8")
    (folder / "p.pdf").write_bytes(made.pdf)
    return folder


def phrase_list(text, sections, rng, count=200):
    """(record, expected start) for ``count`` phrases of the claims and the description:
    features between punctuation, repeated ones chosen by occurrence or section, and some
    typed with other blanks or half-width punctuation."""
    bounds = {s["id"]: (s["start"], s["end"]) for s in sections}
    pieces = []
    for section in ("claims", "description"):
        start, end = bounds[section]
        for found in re.finditer(r"[^，；。：、]{4,40}[，；：]?", text[start:end]):
            pieces.append((start + found.start(), found.group()))
    rng.shuffle(pieces)
    listed = []
    for at, piece in pieces[:count]:
        where = occurrences(text, piece)
        record = {"text": piece}
        if len(where) > 1:
            inside = [w for w in where if bounds["claims"][0] <= w < bounds["claims"][1]]
            if len(inside) == 1 and at == inside[0] and rng.random() < 0.5:
                record["section"] = "claims"
            else:
                record["occurrence"] = where.index(at) + 1
        if rng.random() < 0.3:
            record["text"] = piece.replace("，", ", ").replace("：", ":")
            if record["text"] == piece:
                record["text"] = piece[:2] + " " + piece[2:]
        listed.append((record, at, len(piece)))
    return listed


def test_two_hundred_phrases_land_on_their_offsets(patent, capsys):
    text = document(patent, capsys)
    listed = phrase_list(text["text"], text["sections"], random.Random(7))
    assert len(listed) == 200
    assert sum("occurrence" in r or "section" in r for r, _, _ in listed) >= 20
    status, placed = mark(patent, [r for r, _, _ in listed])
    assert status == 0
    assert [(m["start"], m["end"]) for m in placed] == [(at, at + n) for _, at, n in listed]
    folded = sum(r["text"] not in text["text"] for r, _, _ in listed)
    warned = capsys.readouterr().err.count("differs only in blanks")
    assert folded > 10 and warned == folded


def test_every_occurrence_with_all_and_a_chosen_one_with_prefix(patent, capsys):
    text = document(patent, capsys)["text"]
    phrase = max((m.group() for m in re.finditer(r"[^，；。]{6,}", text)),
                 key=lambda p: (len(occurrences(text, p)), len(p)))
    where = occurrences(text, phrase)
    assert len(where) >= 3
    before = [text[w - 12:w] for w in where]
    chosen = next(w for w, b in zip(where, before) if before.count(b) == 1)
    status, placed = mark(patent, [{"text": phrase, "all": True, "type": "par", "title": "1"},
                                   {"text": phrase, "prefix": text[chosen - 12:chosen]}])
    assert status == 0
    assert [m["start"] for m in placed] == where + [chosen]
    assert all(m["type"] == "par" for m in placed[:-1]) and placed[-1]["type"] == "cth"


@pytest.mark.parametrize("record, message", [
    ({"text": "量子纠缠隐形传态装置"}, "is not in the document text"),
    ({"text": "ABSENT"}, "is not in the document text"),
    ({"text": "所述"}, "occurs"),
    ({"text": "所述", "section": "drawings"}, "is not in the section 'drawings'"),
    ({"text": "所述", "occurrence": 100000}, "occurrence 100000 asked"),
    ({"text": "所述", "occurrence": 0}, "occurrence must be a whole number"),
    ({"text": "所述", "section": "abstract"}, "section must be one of"),
    ({"text": "所述", "all": True, "occurrence": 2}, "either occurrence or all"),
    ({"text": "\n"}, "text is empty"),
])
def test_what_cannot_be_found_or_chosen_is_said(patent, capsys, record, message):
    status, _ = mark(patent, [{"text": "所述", "occurrence": 1}, record])
    err = capsys.readouterr().err
    assert status == 1 and "mark 2" in err and message in err and len(err.splitlines()) == 1
    if message == "occurs":  # the occurrences are listed with their sections
        assert "claims" in err and "description" in err and "[所述]" in err
    if "must" not in message and "either" not in message and "empty" not in message:
        status, placed = mark(patent, [{"text": "所述", "occurrence": 1}, record],
                              "--skip-unplaced")
        assert status == 0 and placed[0]["rects"] and placed[1]["rects"] == []
        assert message in placed[1]["reason"]


def test_find_prints_every_occurrence(patent, capsys):
    text = document(patent, capsys)["text"]
    phrases = ["所述", text[100:108], "所 述"]
    args = [str(patent / "p.html"), "--find", phrases[0], "--find", phrases[1], "--find"]
    assert text_cli.main(args + [phrases[2], "--json"]) == 0
    found = json.loads(capsys.readouterr().out)["phrases"]
    assert [[o["start"] for o in f["occurrences"]] for f in found] == [
        occurrences(text, p) for p in phrases[:2]] + [occurrences(text, "所述")]
    assert [f["exact"] for f in found] == [True, True, False]
    assert {o["section"] for o in found[0]["occurrences"]} <= set(SECTIONS)
    assert text_cli.main(args + ["量子纠缠"]) == 1
    shown = capsys.readouterr()
    assert shown.out.splitlines()[0] == "所述: %d occurrences" % len(occurrences(text, "所述"))
    assert "量子纠缠' is not in the document text" in shown.err


def test_the_batch_takes_phrase_records(patent, tmp_path, capsys):
    text = document(patent, capsys)["text"]
    phrase = text[text.index("1.") + 2:text.index("1.") + 12]
    for name, data in (("p.html", None), ("p.pdf", None), ("p.marks.json", json.dumps(
            [{"text": phrase, "section": "claims"}], ensure_ascii=False).encode())):
        (tmp_path / name).write_bytes(data or (patent / name).read_bytes())
    assert [line["status"] for line in mark_batch(tmp_path, tmp_path / "out", jobs=1)] == ["ok"]
    placed = json.loads((tmp_path / "out" / "p.marks.json").read_text(encoding="utf-8"))
    assert placed[0]["start"] == text.index(phrase)


# Few characters, so that phrases repeat and overlap: blanks, full-width forms and a character
# beyond the Basic Multilingual Plane among them.
ALPHABET = "ab所述Ａ１ 　\U00020000"


def places(text, phrase):
    """(spans, exact) where the phrase is: its occurrences, else those of its folded form in the
    folded text, carried back to the text by hand."""
    if occurrences(text, phrase):
        return [(s, s + len(phrase)) for s in occurrences(text, phrase)], True
    kept = [i for i, c in enumerate(text) if fold(c)]
    folded, piece = fold(text), fold(phrase)
    return ([(kept[s], kept[s + len(piece) - 1] + 1) for s in occurrences(folded, piece)]
            if piece else []), False


@settings(max_examples=300, deadline=None)
@given(st.text(ALPHABET, max_size=40), st.text(ALPHABET, min_size=1, max_size=5))
def test_records_land_where_str_find_finds_their_text(text, phrase):
    half = len(text) // 2
    spans, exact = places(text, phrase)
    records = [{"text": phrase, "all": True}, {"text": phrase},
               {"text": phrase, "section": "claims", "all": True}] + [
        {"text": phrase, "occurrence": n} for n in range(1, len(spans) + 2)]
    # What each record marks; [None]: it cannot be placed, so it is left out with a reason.
    expected = [spans or [None], spans if len(spans) == 1 else [None],
                [s for s in spans if s[1] <= half] or [None]] + [[s] for s in spans] + [[None]]
    skipped = []
    placed, warnings = anchor_marks(records, text, [("claims", 0, half),
                                                    ("description", half, len(text))],
                                    "", skip_unplaced=skipped)
    assert [(m["start"], m["end"]) if "start" in m else None for m in placed] == [
        s for chosen in expected for s in chosen]
    assert len(skipped) == expected.count([None])
    assert bool(warnings) == (not exact and bool(spans))
