"""The review page of a large patent (a 60,000-character description, 500 marks) in Chromium:
time to first paint and first contentful paint of index.html opened from the file system, the
time to make the page (its HTML, and with its page images), and its size.

Target: first contentful paint under one second. Chromium is Debian's /usr/bin/chromium, driven
by Playwright; every round opens the page in a new browser context, so nothing is cached.
"""
import json
import pathlib
import statistics
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))

from playwright.sync_api import sync_playwright  # noqa: E402

from patents import generate_patent  # noqa: E402
from quorl_mark import job  # noqa: E402
from quorl_mark.review import page as review  # noqa: E402
from quorl_mark.diagnostics import module_diagnostics  # noqa: E402

ROUNDS = 7
MARKS = 500
KINDS = ["par", "cth", "equal", "imgpar", "imgig", "flag"]
CHROMIUM = "/usr/bin/chromium"


def make_marks(htmldoc):
    """500 marks over the claims and description paragraphs: one per element, every fourth
    overlapping the one before it, every ninth the whole element (several lines)."""
    ids = sorted(i for i in htmldoc.infodict if i[:2] in ("cl", "p0") and i[2:].isdigit())
    marks = []
    for n in range(MARKS):
        record = htmldoc.infodict[ids[n % len(ids)]]
        length = record["end"] - record["start"]
        start = record["start"] + (length // 3 if n % 4 == 3 else min(3, length // 4))
        end = record["end"] if n % 9 == 0 else min(record["end"], start + 30)
        marks.append({"start": start, "end": end, "type": KINDS[n % len(KINDS)],
                      "title": str(n + 1), "content": "mark %d" % (n + 1)})
    return marks


def paint_times(browser, url):
    """Milliseconds to first paint and first contentful paint, and to the load event."""
    context = browser.new_context(viewport={"width": 1600, "height": 1000})
    page = context.new_page()
    page.goto(url)
    page.wait_for_load_state("load")
    # Paint entries can arrive after the load event: wait for them with a buffered observer.
    entries = page.evaluate("""() => new Promise(resolve => {
        const out = {load: performance.getEntriesByType("navigation")[0].loadEventEnd};
        new PerformanceObserver(list => {
            for (const e of list.getEntries()) out[e.name] = e.startTime;
            if ("first-contentful-paint" in out) resolve(out);
        }).observe({type: "paint", buffered: true});
    })""")
    context.close()
    return entries["first-paint"], entries["first-contentful-paint"], entries["load"]


def main():
    patent = generate_patent(4, claims=10, paragraphs=490, figures=4)
    description = sum(len(t) for t in patent.html_texts["description"])
    with tempfile.TemporaryDirectory() as tmp:
        folder = pathlib.Path(tmp)
        (folder / "p.html").write_text(patent.html, encoding="utf-8")
        (folder / "p.pdf").write_bytes(patent.pdf)
        with module_diagnostics(False):
            converter = job.load_converter(patent.html, patent.pdf)
        marks = make_marks(converter.htmldoc)
        (folder / "marks.json").write_text(json.dumps(marks))
        result, _ = job.mark_to_files(folder / "p.html", folder / "p.pdf", folder / "marks.json",
                                      folder / "out.pdf", review=folder / "review", dpi=100)
        with module_diagnostics(False):
            marked = job.place_marks(converter, marks)
        writing = {}
        t = time.perf_counter()
        review.text_pane(converter, marks)
        review.mark_list(converter.pdfdoc, marks)
        writing["HTML of the text pane and the mark list"] = time.perf_counter() - t
        t = time.perf_counter()
        review.review_files(converter, marks, marked, 100)
        writing["whole review page, with 100 dpi images"] = time.perf_counter() - t
        index = folder / "review" / "index.html"
        index_size = index.stat().st_size
        images = [i.stat().st_size for i in (folder / "review" / "pages").glob("*.png")]
        with sync_playwright() as p:
            browser = p.chromium.launch(executable_path=CHROMIUM)
            runs = [paint_times(browser, index.as_uri()) for _ in range(ROUNDS)]
            browser.close()

    print("Review page: %d pages, %d-character description, %d marks, %d rounds in Chromium %s"
          % (result.pages, description, len(result.marks), ROUNDS, CHROMIUM))
    print("(best and median milliseconds; the machine is shared)")
    print()
    row = "%-40s %9s %9s"
    print(row % ("", "best", "median"))
    for name, values in zip(("first paint", "first contentful paint", "load event"),
                            zip(*runs)):
        print(row % (name, "%.0f" % min(values), "%.0f" % statistics.median(values)))
    print()
    for name, seconds in writing.items():
        print(row % (name, "%.0f" % (seconds * 1e3), ""))
    print()
    print("index.html:              %8.1f KB" % (index_size / 1024))
    print("page images (%d PNG):    %8.1f KB" % (len(images), sum(images) / 1024))
    best_fcp = min(r[1] for r in runs)
    print()
    print("first contentful paint: %.0f ms  (target < 1000)" % best_fcp)


if __name__ == "__main__":
    main()
