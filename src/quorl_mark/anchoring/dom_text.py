"""The text a browser's DOM gives for a patent's HTML, and the way between its positions and
the document text's.

Web annotation clients (Hypothesis, Apache Annotator, the dom-anchor-text-* libraries) count
their TextPositionSelector in ``document.body.textContent``: every text node under <body>,
newlines and the content of <script> and <style> included, <br> contributing nothing. The
document text quorl's offsets count is the text of the HTML parsed after its newline characters
were deleted, the <title> included, scripts and styles left out. The two are aligned once
(equal stretches), and a span of either is carried to the other through them.
"""
import bisect

import lxml.html


def body_text(html):
    """``document.body.textContent`` of the HTML as a browser parses it. lxml's parser builds
    the tree an HTML5 parser does for a patent page; what it leaves outside <body> (the blanks
    after </body> and </html>) a browser appends to it."""
    try:
        root = lxml.html.document_fromstring(html)
    except Exception:  # no element at all: an empty body
        return ""
    body = root.find("body")
    if body is None:
        return ""
    trailing = "".join(t for t in (body.tail, root.tail) if t and not t.strip())
    return body.text_content() + trailing


class TextMap:
    """Equal stretches of the document text (``document``) and the browser's (``browser``):
    where each starts in either text and how long it is, in the order of both texts."""

    def __init__(self, document, browser):
        self.document, self.browser = document, browser
        if browser.replace("\n", "") == document:  # the stretches between newlines
            d_starts, b_starts, lengths, at = [], [], [], 0
            for newlines, line in enumerate(browser.split("\n")):
                if line:
                    d_starts.append(at - newlines)
                    b_starts.append(at)
                    lengths.append(len(line))
                at += len(line) + 1
        else:
            import quorl

            blocks = [(i1, j1, i2 - i1) for tag, i1, i2, j1, _
                      in quorl._opcodes(document, browser) if tag == "equal"]
            d_starts, b_starts, lengths = (list(column) for column in zip(*blocks)) if blocks \
                else ([], [], [])
        self._lengths = lengths
        self._stretches = {"document": (d_starts, b_starts), "browser": (b_starts, d_starts)}
        self._ends = {source: [s + n for s, n in zip(starts, lengths)]
                      for source, (starts, _) in self._stretches.items()}

    def span(self, start, end, source="document"):
        """The span of the other text that holds what [start, end) of ``source`` holds: from
        the first character of it the other text has to the last, or None when the other text
        has none of it."""
        starts, others = self._stretches[source]
        first = bisect.bisect_right(self._ends[source], start)  # first stretch ending after start
        last = bisect.bisect_left(starts, end) - 1  # last stretch starting before end
        if first > last:
            return None
        new_start = others[first] + max(0, start - starts[first])
        new_end = others[last] + min(self._lengths[last], end - starts[last])
        return new_start, new_end

    def position(self, at, source="browser"):
        """The place in the other text nearest to position ``at`` of ``source``."""
        starts, others = self._stretches[source]
        index = bisect.bisect_right(starts, at) - 1
        if index < 0:
            return others[0] if others else 0
        return others[index] + min(at - starts[index], self._lengths[index])
