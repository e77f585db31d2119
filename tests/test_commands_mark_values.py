"""quorl-mark on mark values that would be drawn or written wrongly: each is refused naming the
mark and the field, with nothing written, while every valid value is drawn as before."""
import json
import math

import pymupdf
import pytest

from careless_use import command, patent_folder, refused

# Index of a mark of spread_marks' order: par, cth, equal, imgpar, imgig, flag, ...
PAR, IMGPAR, IMGIG = 0, 3, 4


@pytest.fixture(scope="module")
def work(tmp_path_factory):
    folder = tmp_path_factory.mktemp("values")
    _, marks = patent_folder(folder)
    return folder, marks


def with_values(work, index, **values):
    folder, marks = work
    changed = [dict(m) for m in marks]
    changed[index].update(values)
    path = folder / "changed.json"
    path.write_text(json.dumps(changed), encoding="utf-8")  # NaN and escapes as given
    return path


@pytest.mark.parametrize("index,values,expected", [
    (IMGPAR, {"info": "imagenote#-99999,5,1000000000,0$"}, "info: imagenote x is -99999"),
    (IMGPAR, {"info": "imagenote#10,abc,1,1$"}, 'info: imagenote y is "abc", not a whole'),
    (IMGIG, {"info": "imagenote#0,0,1001,0$"}, "imagenote w is 1001"),
    (IMGIG, {"info": "imagenote#900,0,200,0$"}, "x + w is 1100"),
    (IMGPAR, {"info": "imagenote#1,2$"}, "four whole numbers x,y,w,h"),
    (PAR, {"title": "1" * 3000}, "title label would reach from x -57"),
    (PAR, {"title": "a\x00b"}, "title holds a NUL character at position 1"),
    (IMGIG, {"content": "\x00"}, "content holds a NUL character"),
    (PAR, {"title": float("nan")}, "title is NaN, which is not a number JSON can hold"),
    (PAR, {"title": float("-inf")}, "title is -Infinity"),
    (PAR, {"title": "\ud800"}, "title holds a lone surrogate (U+D800)"),
    (IMGIG, {"info": "\udfff"}, "info holds a lone surrogate (U+DFFF)"),
    (PAR, {"extra": [1, float("inf")]}, "extra[1] is Infinity"),
])
def test_a_value_drawn_or_written_wrongly_is_refused(work, index, values, expected):
    folder, _ = work
    marks = with_values(work, index, **values)
    err = refused(folder, "quorl-mark", folder / "p.html", folder / "p.pdf", marks,
                  "-o", folder / "o.pdf", "--marks-out", folder / "o.json")
    assert "changed.json: mark %d (" % (index + 1) in err and expected in err, err


def test_skip_unplaced_leaves_out_a_label_beyond_the_page(work):
    folder, _ = work
    marks = with_values(work, PAR, title="9" * 400)
    proc = command("quorl-mark", folder / "p.html", folder / "p.pdf", marks, "-o",
                   folder / "s.pdf", "--marks-out", folder / "s.json", "--skip-unplaced")
    assert proc.returncode == 0, proc.stderr
    first = json.loads((folder / "s.json").read_text())[PAR]
    assert first["rects"] == [] and "beyond its page" in first["reason"]


def strict_json(text):
    def refuse(constant):
        raise ValueError("not JSON: %s" % constant)

    return json.loads(text, parse_constant=refuse)


def test_valid_values_are_drawn_on_the_page_and_written_as_json(work):
    """The imagenote hint of --help moves an imgpar label off the text it would hide; numbers as
    titles, ranges and text of any script stay drawable, and --marks-out is strict JSON."""
    folder, marks = work
    changed = [dict(m) for m in marks]
    changed[PAR].update(title=12.5, content="权利要求 ∑ 😀")
    changed[IMGPAR].update(title="4", info="imagenote#1000,0,0,1000$")
    changed[IMGIG].update(content="图1", info="imagenote#0,0,1000,1000$")
    changed[2].update(title="3-4")
    (folder / "valid.json").write_text(json.dumps(changed, ensure_ascii=False), "utf-8")
    proc = command("quorl-mark", folder / "p.html", folder / "p.pdf", folder / "valid.json",
                   "-o", folder / "v.pdf", "--marks-out", folder / "v.json")
    assert proc.returncode == 0 and proc.stderr == b"", proc.stderr
    placed = strict_json((folder / "v.json").read_text(encoding="utf-8"))
    assert [m["title"] for m in placed] == [m["title"] for m in changed]
    doc = pymupdf.open(folder / "v.pdf")
    labels = 0
    for page in doc:
        for annot in page.annots():
            rect = annot.rect
            assert all(map(math.isfinite, rect)) and rect in page.rect + (-1, -1, 1, 1)
            labels += annot.type[1] == "FreeText"
    assert labels >= 8
    line_page, _, _, line_right, _ = placed[IMGPAR]["rects"][0]
    label = [a.rect for a in doc[line_page].annots() if a.info["content"] == "4"
             and a.type[1] == "FreeText"]
    assert label and label[0].x0 >= line_right - 0.01  # beside the text, hiding none of it
