"""The review page (quorl-mark --review) opened from the file system in Chromium (Debian's
/usr/bin/chromium driven by Playwright): it loads cleanly, shows every mark on both sides where
it belongs, jumps between them, and shows hostile patent text as text."""
import json
import pathlib
import re
import shutil

import pytest
from playwright.sync_api import expect, sync_playwright

import patents
import quorl
from quorl_mark import job
from quorl_mark.commands import mark as cli
from quorl_mark.review import views

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
KINDS = ["par", "cth", "equal", "imgpar", "imgig", "flag"]


@pytest.fixture(scope="module")
def browser():
    with sync_playwright() as p:
        browser = p.chromium.launch(executable_path="/usr/bin/chromium")
        yield browser
        browser.close()


class Visit:
    """A review page open in a new tab, with everything it reported."""

    def __init__(self, browser, index):
        self.page = browser.new_page(viewport={"width": 1400, "height": 900})
        self.errors, self.requests, self.dialogs = [], [], []
        self.page.on("console", lambda m: m.type in ("error", "warning")
                     and self.errors.append(m.text))
        self.page.on("pageerror", lambda e: self.errors.append(str(e)))
        self.page.on("requestfailed", lambda r: self.errors.append("failed: " + r.url))
        self.page.on("request", lambda r: self.requests.append(r.url))
        self.page.on("dialog", lambda d: (self.dialogs.append(d.message), d.dismiss()))
        self.page.goto(pathlib.Path(index).as_uri())

    def inside(self, locator, pane):
        """Whether what ``locator`` shows lies within the visible box of the pane."""
        box, frame = locator.bounding_box(), self.page.locator(pane).bounding_box()
        return (box is not None and box["y"] >= frame["y"] - 1 and box["x"] >= frame["x"] - 1
                and box["y"] + box["height"] <= frame["y"] + frame["height"] + 1)


def mark_files(folder, html, pdf, marks, html_name="p.html"):
    (folder / html_name).write_text(html, encoding="utf-8")
    (folder / "p.pdf").write_bytes(pdf)
    (folder / "marks.json").write_text(json.dumps(marks, ensure_ascii=False), encoding="utf-8")
    return job.mark_to_files(folder / html_name, folder / "p.pdf", folder / "marks.json",
                             folder / "out.pdf", review=folder / "review", dpi=40)[0]


@pytest.fixture(scope="module")
def long_patent(tmp_path_factory):
    """A 40-page patent with 60 marks: whole paragraphs (many lines, some across a page break),
    every third one overlapping the mark before it; nine of its HTML paragraphs have a character
    edited (one each)."""
    patent = patents.generate_patent(2, pages=40, substitutions=3, insertions=3, deletions=3)
    doc = quorl.HtmlDocument(patent.html, parserlist=[{"name": ["img", "div", "h2"]}])
    ids = sorted(i for i in doc.infodict if i[:2] in ("cl", "p0") and i[2:].isdigit())
    marks = []
    for n, element in enumerate(ids[::len(ids) // 60][:60]):
        start, end = doc.infodict[element]["start"], doc.infodict[element]["end"]
        if n % 3 == 2:  # from the middle of the paragraph before into this one
            start = (marks[-1]["start"] + marks[-1]["end"]) // 2
        marks.append({"start": start, "end": end, "type": KINDS[n % len(KINDS)],
                      "title": str(n + 1), "content": "mark %d" % (n + 1)})
    folder = tmp_path_factory.mktemp("long")
    return folder, mark_files(folder, patent.html, patent.pdf, marks), doc.text, patent.edits


def test_the_command_writes_a_page_that_opens_cleanly(browser, tmp_path):
    for name in ("sample.html", "sample.pdf", "sample-marks.json"):
        shutil.copy(EXAMPLES / name, tmp_path / name)
    status = cli.main([str(tmp_path / n) for n in ("sample.html", "sample.pdf",
                                                   "sample-marks.json")]
                      + ["-o", str(tmp_path / "out.pdf"), "--review", str(tmp_path / "review"),
                         "--dpi", "60", "-q"])
    assert status == 0
    files = sorted(p.relative_to(tmp_path / "review").as_posix()
                   for p in (tmp_path / "review").rglob("*") if p.is_file())
    assert files == ["index.html"] + ["pages/page-%03d.png" % n for n in range(1, 6)]
    visit = Visit(browser, tmp_path / "review" / "index.html")
    for figure in visit.page.locator("#pdf figure").all():
        figure.scroll_into_view_if_needed()
    expect(visit.page.locator("#pdf img")).to_have_count(5)
    visit.page.wait_for_function("[...document.images].every(i => i.complete && i.naturalWidth)")
    visit.page.locator("#pdf figure").first.scroll_into_view_if_needed()
    visit.page.screenshot(path=tmp_path / "review.png")
    assert visit.errors == []
    assert {url.split(":")[0] for url in visit.requests} == {"file"}


def test_every_mark_is_shown_on_both_sides_where_it_belongs(browser, long_patent):
    folder, result, text, _ = long_patent
    assert any(len({r[0] for r in m["rects"]}) > 1 for m in result.marks)  # across a page break
    visit = Visit(browser, folder / "review" / "index.html")
    shown = visit.page.evaluate("""() => {
        const out = {text: {}, rects: []};
        for (const el of document.querySelectorAll("#text .m"))
            for (const m of el.dataset.m.split(" ")) out.text[m] = (out.text[m] || "") + el.textContent;
        for (const el of document.querySelectorAll("#pdf .r")) {
            const r = el.getBoundingClientRect(), f = el.parentElement.getBoundingClientRect();
            out.rects.push([+el.dataset.m, +el.parentElement.id.slice(2) - 1, (r.left - f.left) / f.width,
                            (r.top - f.top) / f.height, (r.right - f.left) / f.width,
                            (r.bottom - f.top) / f.height]);
        }
        return out;
    }""")
    assert shown["text"] == {str(n): text[m["start"]:m["end"]]
                             for n, m in enumerate(result.marks)}
    expected = sorted((n, r[0], r[1] / 595, r[2] / 842, r[3] / 595, r[4] / 842)
                      for n, m in enumerate(result.marks) for r in m["rects"])
    assert len(shown["rects"]) == len(expected) > len(result.marks)
    for got, want in zip(sorted(shown["rects"]), expected):
        assert got[:2] == list(want[:2]) and got[2:] == pytest.approx(want[2:], abs=0.002)
    assert visit.errors == []


def test_the_html_edits_are_marked_as_differences_and_nothing_else(browser, long_patent):
    folder, _, _, edits = long_patent
    visit = Visit(browser, folder / "review" / "index.html")
    paragraphs = visit.page.evaluate("""() => [...document.querySelectorAll("#text p")].map(p => {
        let heading = p;
        while (heading.tagName !== "H2") heading = heading.previousElementSibling;
        const copy = p.cloneNode(true), part = sel => [...p.querySelectorAll(sel)].map(
            e => e.textContent).join("");
        copy.querySelectorAll("ins, .lbl").forEach(e => e.remove());
        return [heading.textContent, copy.textContent, part(".x"), part("ins")];
    })""")
    shown = {text: (only_html, only_pdf) for section, text, only_html, only_pdf in paragraphs
             if section in ("claims", "description")}
    for _, _, _, old, new in edits:
        k = next(k for k, (a, b) in enumerate(zip(old, new + " ")) if a != b)
        expected = (new[k] if len(new) >= len(old) else "", old[k] if len(new) <= len(old) else "")
        assert shown.pop(new) == expected, new
    assert set(shown.values()) == {("", "")}


def test_clicks_and_keys_bring_a_mark_into_view_on_both_sides(browser, long_patent):
    folder, result, _, _ = long_patent
    visit = Visit(browser, folder / "review" / "index.html")
    page = visit.page
    last = len(result.marks) - 1
    in_text, in_pdf = (page.locator("#%s [data-m~='%d']" % (pane, last)).first
                       for pane in ("text", "pdf"))
    expect(in_text).not_to_be_in_viewport()
    expect(in_pdf).not_to_be_in_viewport()
    page.locator("#marks li[data-m='%d']" % last).click()
    page.screenshot(path=folder / "after-click.png")
    assert visit.inside(in_text, "#text") and visit.inside(in_pdf, "#pdf")
    expect(in_pdf).to_have_class(re.compile(r"\bflash\b"))
    page.keyboard.press("p")
    expect(page.locator("#marks li.sel")).to_have_attribute("data-m", str(last - 1))
    for pane in ("text", "pdf"):
        assert visit.inside(page.locator("#%s [data-m~='%d']" % (pane, last - 1)).first, "#" + pane)
    page.locator("#pdf").evaluate("pane => pane.scrollTop = 0")
    outline = page.locator("#pdf .r").first
    first = int(outline.get_attribute("data-m"))
    expect(page.locator("#text [data-m~='%d']" % first).first).not_to_be_in_viewport()
    outline.click()
    assert visit.inside(page.locator("#text [data-m~='%d']" % first).first, "#text")
    page.locator("#outlines").uncheck()
    expect(outline).to_be_hidden()
    assert visit.errors == []


HOSTILE = '<script>alert(1)</script>" onmouseover="alert(2)" &amp; \'x'


def test_hostile_text_is_shown_as_text_and_never_runs(browser, tmp_path):
    patent = patents.generate_patent(5)
    paragraph = patent.html_texts["description"][2]
    html = patent.html.replace(paragraph, paragraph[:6] + views.escape(HOSTILE) + paragraph[6:], 1)
    text = quorl.HtmlDocument(html, parserlist=[{"name": ["img", "div", "h2"]}]).text
    start = text.index(HOSTILE)
    marks = [{"start": start - 4, "end": start + len(HOSTILE) + 4, "type": "par",
              "title": '"><img src=x onerror=alert(3)>', "content": HOSTILE + "</script>"}]
    result = mark_files(tmp_path, html, patent.pdf, marks, html_name='"<b>&.html')
    visit = Visit(browser, tmp_path / "review" / "index.html")
    page = visit.page
    for element in page.locator("[data-m], [title]").all():
        element.hover()
        element.click()
    assert visit.dialogs == [] and visit.errors == []
    expect(page.locator("#text")).to_contain_text(HOSTILE)
    expect(page.locator("#marks li")).to_have_text(re.compile(re.escape(HOSTILE + "</script>")))
    expect(page.locator("#text .lbl")).to_have_text(marks[0]["title"])
    assert page.title() == '"<b>&.html and p.pdf'
    assert page.evaluate("""() => document.scripts.length === 1 && document.images.length === %d
        && ![...document.querySelectorAll("*")].some(e => [...e.attributes].some(
               a => a.name.startsWith("on")))""" % result.pages)
