"""quorl-extract used carelessly: an HTML cut to its bibliographic section, another patent's PDF
with --allow-mismatch, a note placed far off its page."""
import json

import pymupdf
import pytest

import patents
from careless_use import command, patent_folder, refused


@pytest.fixture(scope="module")
def work(tmp_path_factory):
    """The patent, its PDF marked by quorl-mark, its HTML cut before the claims, and another
    patent's HTML."""
    folder = tmp_path_factory.mktemp("extract")
    patent, _ = patent_folder(folder)
    proc = command("quorl-mark", folder / "p.html", folder / "p.pdf", folder / "m.json",
                   "-o", folder / "marked.pdf")
    assert proc.returncode == 0, proc.stderr
    html = patent.html
    (folder / "cut.html").write_text(html[:html.index('<div id="claims"')] + "</body></html>",
                                     encoding="utf-8")
    (folder / "other.html").write_text(patents.generate_patent(11, figures=1).html, "utf-8")
    return folder


def records(path):
    return json.loads(path.read_text(encoding="utf-8"))


def test_an_html_cut_short_is_refused_unless_allowed_with_a_warning(work):
    err = refused(work, "quorl-extract", work / "cut.html", work / "marked.pdf", "-o",
                  work / "r.json")
    assert "cut.html: the HTML has no claims and no description section" in err
    proc = command("quorl-extract", work / "cut.html", work / "marked.pdf", "-o",
                   work / "r.json", "--allow-mismatch")
    assert proc.returncode == 0
    assert proc.stderr.decode().startswith("quorl-extract: warning: ")
    assert b"an HTML cut short?" in proc.stderr


def test_another_publication_allowed_is_warned_about(work):
    proc = command("quorl-extract", work / "other.html", work / "marked.pdf", "-o",
                   work / "r.json", "--allow-mismatch")
    assert proc.returncode == 0, proc.stderr
    warning = proc.stderr.decode()
    assert warning.startswith("quorl-extract: warning: ") and warning.count("\n") == 1
    assert "publication numbers differ" in warning and "anyway" in warning


def test_a_note_far_off_its_page_has_a_reason_not_an_anchor(work):
    doc = pymupdf.open(work / "marked.pdf")
    doc[1].add_freetext_annot(pymupdf.Rect(10000, 10000, 10100, 10020), "far away")
    doc[1].add_text_annot((300, 400), "on the page")
    doc.save(work / "notes.pdf")
    proc = command("quorl-extract", work / "p.html", work / "notes.pdf", "-o", work / "n.json")
    assert proc.returncode == 0, proc.stderr
    notes = {r["content"]: r for r in records(work / "n.json") if r["source"] == "reader"}
    far, near = notes["far away"], notes["on the page"]
    assert far["start"] is None and "outside its page" in far["reason"]
    assert near["start"] is not None and "reason" not in near
