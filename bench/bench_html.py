"""HtmlDocument construction on a large patent HTML, next to a bare lxml parse of the same HTML.

The floor is what any reading of the document costs: BeautifulSoup(html, "lxml") and its .text.
HtmlDocument adds the marking of every identified element, the measuring of the marked text and
the freeing of the tree; the target is at most 1.5 times the floor.
"""
import gc
import os
import statistics
import sys
import time

import bs4

import quorl

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from patents import generate_patent  # noqa: E402

PARSERS = [{"name": ["img", "div", "h2"]}]
DESCRIPTION_CHARS = 60000


def large_patent():
    paragraphs = 400
    while True:
        patent = generate_patent(seed=11, paragraphs=paragraphs, claims=20, figures=6)
        size = sum(len(t) for t in patent.html_texts["description"])
        if size >= DESCRIPTION_CHARS:
            return patent, size
        paragraphs = int(paragraphs * DESCRIPTION_CHARS / size) + 10


def timed(fns, runs):
    """Best and median time of each function; the runs alternate between the functions, so that
    a change in the machine's load falls on all of them alike."""
    times = [[] for _ in fns]
    for _ in range(runs):
        for fn, record in zip(fns, times):
            gc.collect()
            t0 = time.perf_counter()
            fn()
            record.append(time.perf_counter() - t0)
    return [(min(t), statistics.median(t)) for t in times]


def floor(html):
    tree = bs4.BeautifulSoup(html, "lxml")
    return tree.text


class EditingParser(quorl.ItemInfoParser):
    """A parser of the caller's own: the document then writes every marker into the tree."""

    def mark(self, soup):
        return super().mark(soup)


def edited_tree_document(html):
    saved = quorl.ItemInfoParser
    quorl.ItemInfoParser = EditingParser
    try:
        return quorl.HtmlDocument(html, PARSERS)
    finally:
        quorl.ItemInfoParser = saved


def main(runs=31):
    patent, size = large_patent()
    html = patent.html
    doc = quorl.HtmlDocument(html, PARSERS)
    assert doc.get_text("description") == "".join(patent.html_texts["description"])
    assert edited_tree_document(html).infodict == doc.infodict
    names = ["bare BeautifulSoup(html, 'lxml').text",
             "HtmlDocument(html, [{'name': ['img', 'div', 'h2']}])",
             "  the same, markers written into the tree (own parser)"]
    rows = list(zip(names, timed([lambda: floor(html), lambda: quorl.HtmlDocument(html, PARSERS),
                                  lambda: edited_tree_document(html)], runs)))
    print("HtmlDocument construction: %d characters of HTML, %d of description, %d elements "
          "measured, best and median of %d runs" % (len(html), size, len(doc.infodict), runs))
    base = rows[0][1]
    for name, (best, median) in rows:
        print("  %-55s %8.2f ms %8.2f ms   %.2fx floor (best) %.2fx (median)"
              % (name, best * 1e3, median * 1e3, best / base[0], median / base[1]))


if __name__ == "__main__":
    main()
