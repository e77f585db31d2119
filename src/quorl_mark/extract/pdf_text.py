"""The converter's PDF text as reading annotations back counts it, and the way from its stretches
back to spans of the HTML document text through the converter's alignment."""
import bisect
import itertools
from collections import defaultdict
from typing import Dict, List

from ..errors import JobError


class PdfText:
    """The converter's PDF text: its line records, where each line starts in the whole text
    (newlines and no-break spaces left out, as the alignment counts) and the lines of each
    page."""

    def __init__(self, converter):
        pdfdoc = converter.pdfdoc
        shown = pdfdoc.get_text().split("\n")
        self.records = pdfdoc.get_lines()
        if len(shown) != len(self.records):
            raise JobError(None, "match", "the converter's PDF text has %d lines for %d line "
                           "records" % (len(shown), len(self.records)))
        self.text = "".join(shown)
        self.starts = list(itertools.accumulate(map(len, shown), initial=0))
        self.pages = pdfdoc.doc.page_count
        self.page_lines: Dict[int, List[int]] = defaultdict(list)
        for index, record in enumerate(self.records):
            self.page_lines[record["page"]].append(index)

    def lines_of(self, page):
        """The line records of a page and the offsets where each begins in the whole text."""
        indexes = self.page_lines.get(page, [])
        return [self.records[i] for i in indexes], [self.starts[i] for i in indexes]

    def line_stretch(self, index):
        return self.starts[index], self.starts[index + 1]


class Alignment:
    """Stretches of the PDF text to spans of the HTML document text, through the converter's
    aligned pairs ((html start, html end), (pdf start, pdf end))."""

    def __init__(self, difflist):
        pairs = sorted((b, a) for a, b in difflist if b[1] > b[0])
        self.b_starts = [b[0] for b, _ in pairs]
        self.pairs = pairs

    def html_span(self, start, end):
        """The HTML span of the PDF stretch [start, end), or None when no character of it is
        aligned. An end that lies in text the two renderings do not share is moved outwards to
        the edge of the HTML's differing stretch, so the span covers what differs."""
        pairs, n = self.pairs, len(self.pairs)
        first = bisect.bisect_left(self.b_starts, start)
        if not (first > 0 and start < pairs[first - 1][0][1]) and \
                not (first < n and self.b_starts[first] < end):
            return None  # no aligned character from start to end
        i = bisect.bisect_right(self.b_starts, start) - 1
        if i >= 0 and start < pairs[i][0][1]:
            html_start = pairs[i][1][0] + start - pairs[i][0][0]
        elif i >= 0:
            html_start = pairs[i][1][1]  # after the aligned stretch before the gap
        else:
            html_start = pairs[0][1][0]
        j = bisect.bisect_right(self.b_starts, end - 1) - 1
        if j >= 0 and end - 1 < pairs[j][0][1]:
            html_end = pairs[j][1][0] + end - pairs[j][0][0]
        elif j + 1 < n:
            html_end = pairs[j + 1][1][0]  # where the next aligned stretch begins
        else:
            html_end = pairs[j][1][1]
        return (html_start, html_end) if html_end > html_start else None
