"""The regions of a scanned page that Tesseract reads each as one block of text.

A patent page prints its header above a rule across the page. Read as one block with the text
below it, the header's letter-spaced words ("权 利 要 求 书") are joined to the body's first
line and misread, so the header is a region of its own. The first page is laid out in two
columns below its rules (bibliographic fields on the left, title and abstract beside them or
under the second rule): read as one block, each printed line of one column is joined to the line
beside it in the other. So each band between the first page's rules is split at the blank
gutter between its columns, and each column is a region; the publication number printed
vertically in the margin, outside the rules' ends, is left out.

The regions are stacked, apart, into one image that Tesseract reads once (``stacked``), and
each line read is moved back to where it is on the page (``region_of``).
"""
from typing import List, NamedTuple, Tuple

import pymupdf

from .clean import _array, blots

# A rule under a later page's running header lies in this top share of the page.
HEADER_SHARE = 0.15
# The first page's rules lie between these shares of its height.
FIRST_RULE_BAND = (0.12, 0.6)
# How far beyond a rule's ends text may be printed, in inches.
RULE_OVERHANG = 0.12
# The gutter between the first page's columns lies in this middle share of the rules' width ...
GUTTER_SPAN = (0.3, 0.7)
# ... and is at least this wide, in inches.
MIN_GUTTER = 0.12
# Darker than this is ink (the page is cleaned: white paper).
DARK = 128
# The regions are stacked this far apart, in inches: Tesseract never joins their lines.
STACK_GAP = 0.3
# A blot of ink this wide or tall (in inches) is part of a figure: a character is about 0.15
# inch, a figure's boxes, frames and lines are larger.
FIGURE_PART = 0.45
# A page whose figures cover this share of the area below its header is most likely drawings.
FIGURE_PAGE = 0.2
# A page whose figures cover this share of it or more may be a drawings page: a formula set as
# an image in a description covers less.
SOME_FIGURE = 0.05
# A figure's thin lines come out of a scanner light grey: darker than this is their ink.
FIGURE_INK = 200
# On a drawings page, ink this close (inches) is one blot: the dashes of a line, a figure's
# labels and its strokes; a caption's characters stand farther from the figure.
FIGURE_JOIN = 0.06
# A figure is painted out this far around its parts (inches), its labels beside them with it.
FIGURE_MARGIN = 0.1


class Region(NamedTuple):
    x0: int
    y0: int
    x1: int
    y1: int
    header: bool = False


def _ink_columns(gray, region):
    """How many dark pixels each column of ``region`` holds."""
    return (gray[region.y0:region.y1, region.x0:region.x1] < DARK).sum(axis=0)


def _gutter(gray, region, dpi) -> Tuple[int, int]:
    """The widest blank run of columns in the middle of ``region`` (x0, x1 in the page), or
    None when there is none MIN_GUTTER wide."""
    import numpy

    counts = _ink_columns(gray, region)
    width = region.x1 - region.x0
    lo, hi = int(GUTTER_SPAN[0] * width), int(GUTTER_SPAN[1] * width)
    blank = numpy.concatenate(([False], counts[lo:hi] == 0, [False])).astype(numpy.int8)
    steps = numpy.diff(blank)
    starts, ends = numpy.flatnonzero(steps == 1), numpy.flatnonzero(steps == -1)
    if not len(starts):
        return None
    widest = int(numpy.argmax(ends - starts))
    best = (lo + int(starts[widest]), lo + int(ends[widest]))
    if best[1] - best[0] < MIN_GUTTER * dpi:
        return None
    return region.x0 + best[0], region.x0 + best[1]


def _has_ink(gray, region):
    return region.x1 > region.x0 and region.y1 > region.y0 and bool(
        _ink_columns(gray, region).any())


def has_ink_in(pix, found: List[Region]):
    """Whether any of the regions of ``pix`` holds ink."""
    gray = _array(pix)
    return any(_has_ink(gray, r) for r in found)


def regions(pix, rules, first_page) -> List[Region]:
    """The regions of ``pix`` (grey, cleaned, its resolution set) to read, in reading order;
    ``rules`` are its rules as _find_rules gives them (pixels), top to bottom. A page without a
    header rule is one region, as are later pages below their header."""
    gray = _array(pix)
    width, height, dpi = pix.width, pix.height, pix.xres or 300
    top, bottom = (FIRST_RULE_BAND if first_page else (0.0, HEADER_SHARE))
    header_rules = [r for r in rules if top * height <= r[4] <= bottom * height]
    if not header_rules:
        return [Region(0, 0, width, height)]
    rule = header_rules[0]
    found = [Region(0, 0, width, rule[1], True)]
    if not first_page:
        found.append(Region(0, rule[3], width, height))
    else:
        overhang = int(RULE_OVERHANG * dpi)
        x0, x1 = max(0, rule[0] - overhang), min(width, rule[2] + overhang)
        below = [r for r in rules if r[1] > rule[3] and r[2] - r[0] >= 0.8 * (rule[2] - rule[0])]
        edges = [rule[3]] + [edge for r in below for edge in (r[1], r[3])] + [height]
        for y0, y1 in zip(edges[::2], edges[1::2]):
            band = Region(x0, y0, x1, y1)
            gutter = _gutter(gray, band, dpi)
            if gutter is None:
                found.append(band)
            else:
                found += [Region(x0, y0, gutter[0], y1), Region(gutter[1], y0, x1, y1)]
    return [r for r in found if _has_ink(gray, r)]


def stacked(pix, found: List[Region]):
    """One grey pixmap showing the regions one under another, STACK_GAP apart, and the y at
    which each starts in it."""
    import numpy

    gray = _array(pix)
    gap = int(STACK_GAP * (pix.yres or 300))
    width = max(r.x1 - r.x0 for r in found) + 2 * gap
    starts, y = [], gap
    for r in found:
        starts.append(y)
        y += r.y1 - r.y0 + gap
    image = numpy.full((y, width), 255, dtype=numpy.uint8)
    for r, start in zip(found, starts):
        image[start:start + r.y1 - r.y0, gap:gap + r.x1 - r.x0] = gray[r.y0:r.y1, r.x0:r.x1]
    out = pymupdf.Pixmap(pymupdf.csGRAY, width, y, image.tobytes(), False)
    out.set_dpi(pix.xres, pix.yres)
    return out, starts, gap


def region_of(box, found: List[Region], starts: List[int]):
    """The index of the stacked region a box (pixels of the stacked image) lies in, by its
    middle, or None in the gaps."""
    middle = (box[1] + box[3]) / 2
    for i, (r, start) in enumerate(zip(found, starts)):
        if start - 1 <= middle <= start + r.y1 - r.y0 + 1:
            return i
    return None


def without_rules(pix, rules):
    """A copy of ``pix`` with its rules painted white: a line's ink, looked for a little around
    it, never runs into the rule under a header."""
    gray = _array(pix).copy()
    for x0, top, x1, bottom, _ in rules:
        gray[max(0, top - 1):bottom + 1, x0:x1] = 255
    out = pymupdf.Pixmap(pymupdf.csGRAY, pix.width, pix.height, gray.tobytes(), False)
    out.set_dpi(pix.xres, pix.yres)
    return out


def _figure_parts(gray, r: Region, dpi, reach=0):
    """The stats (cv2's) of the blots of ink in ``r`` FIGURE_PART wide or tall, ink less than
    ``reach`` pixels apart taken as one blot."""
    import cv2
    import numpy

    least = FIGURE_PART * dpi
    ink = (gray[r.y0:r.y1, r.x0:r.x1] < FIGURE_INK).astype(numpy.uint8)
    if reach > 1:
        ink = cv2.dilate(ink, numpy.ones((reach, reach), numpy.uint8))
    stats = blots(ink)[2][1:]
    return stats[(stats[:, cv2.CC_STAT_WIDTH] >= least) | (stats[:, cv2.CC_STAT_HEIGHT] >= least)]


def figure_boxes(pix, found: List[Region]):
    """The boxes of the figures in the regions (pixels): in each region that is not a header,
    the box around its blots of ink FIGURE_PART wide or tall, with FIGURE_MARGIN around it."""
    import cv2

    gray = _array(pix)
    dpi = pix.xres or 300
    margin = int(FIGURE_MARGIN * dpi)
    boxes = []
    for r in found:
        if r.header:
            continue
        large = _figure_parts(gray, r, dpi)
        if not len(large):
            continue
        x0 = int(large[:, cv2.CC_STAT_LEFT].min())
        y0 = int(large[:, cv2.CC_STAT_TOP].min())
        x1 = int((large[:, cv2.CC_STAT_LEFT] + large[:, cv2.CC_STAT_WIDTH]).max())
        y1 = int((large[:, cv2.CC_STAT_TOP] + large[:, cv2.CC_STAT_HEIGHT]).max())
        if 2 * (x1 - x0) >= r.x1 - r.x0:  # a figure across its column: its labels beside it
            x0, x1 = 0, r.x1 - r.x0
        boxes.append((max(r.x0, r.x0 + x0 - margin), max(r.y0, r.y0 + y0 - margin),
                      min(r.x1, r.x0 + x1 + margin), min(r.y1, r.y0 + y1 + margin)))
    return boxes


def each_figure(pix, region: Region, joined=False):
    """The box of each figure in ``region`` (pixels): the parts of figures (as figure_boxes
    finds them) less than FIGURE_MARGIN apart, with that margin around them; ``joined``, the
    parts are blots of ink less than FIGURE_JOIN apart (a dashed line, a figure's labels), as
    on a drawings page, whose lines of text are captions only. The captions stand apart from
    the figures, between them."""
    import numpy

    dpi = pix.xres or 300
    margin = int(FIGURE_MARGIN * dpi)
    large = _figure_parts(_array(pix), region, dpi, int(FIGURE_JOIN * dpi) if joined else 0)
    if not len(large):
        return []
    mask = numpy.zeros((region.y1 - region.y0, region.x1 - region.x0), dtype=numpy.uint8)
    for x, y, w, h, _ in large:
        mask[max(0, y - margin):y + h + margin, max(0, x - margin):x + w + margin] = 1
    stats = blots(mask)[2][1:]
    return [(region.x0 + int(x), region.y0 + int(y), region.x0 + int(x + w),
             region.y0 + int(y + h)) for x, y, w, h, _ in stats]


def painted_out(pix, boxes, paper=None):
    """A copy of ``pix`` with the boxes (pixels) painted white, and with ``paper`` also every
    pixel that light."""
    gray = _array(pix).copy()
    if paper is not None:
        gray[gray >= paper] = 255
    for x0, y0, x1, y1 in boxes:
        gray[y0:y1, x0:x1] = 255
    out = pymupdf.Pixmap(pymupdf.csGRAY, pix.width, pix.height, gray.tobytes(), False)
    out.set_dpi(pix.xres, pix.yres)
    return out


def figure_share(pix, found: List[Region]):
    """The share of the regions the figures (each_figure) cover, 0.0 for no regions."""
    area = sum((r.x1 - r.x0) * (r.y1 - r.y0) for r in found)
    covered = sum((x1 - x0) * (y1 - y0) for r in found for x0, y0, x1, y1 in each_figure(pix, r))
    return covered / area if area > 0 else 0.0


def mostly_figure(pix, found: List[Region]):
    """Whether the figures (each_figure) cover FIGURE_PAGE of the regions or more."""
    return figure_share(pix, found) >= FIGURE_PAGE
