"""Blank pages, told from the page before any reading: Tesseract, given a blank scan, takes a
second or more over it and makes characters of the paper's grain.

A page that draws nothing (no content, or content without images, text or paths) is blank
without being rendered. Any other page is rendered small (BLANK_DPI): at that resolution a
printed character is still a blot of several dark pixels, a speck of dust or toner at most one,
blended with the paper around it. A page whose small image holds no blot of MIN_BLOT pixels
darker than its paper by INK_CONTRAST is blank. A scan's JPEG is decoded at a fraction of its
size when drawn that small, so a page costs milliseconds.
"""
import re

import pymupdf

from ..errors import page_ranges

# The resolution blankness is judged at.
BLANK_DPI = 50
# A pixel this much darker than the page's paper (its brightest tenth) is ink.
INK_CONTRAST = 60
# Ink covering this many pixels, joined, is a mark printed on the page: a character of 8 pt
# covers a dozen at BLANK_DPI, a speck one or two.
MIN_BLOT = 4
# Operators of a content stream that put something on the page.
_MARKING = re.compile(rb"(?<![A-Za-z'\"*])(?:Do|TJ|Tj|'|\"|S|s|f|F|f\*|B|B\*|b|b\*|sh|BI)(?![A-Za-z*])")


def draws_nothing(page):
    """Whether ``page``'s content shows no image, text or path, read without rendering."""
    try:
        contents = b"".join(page.parent.xref_stream(xref) or b"" for xref in page.get_contents())
    except Exception:
        return False
    if page.first_annot is not None:
        return False
    return _MARKING.search(contents) is None


def is_blank(page):
    """Whether ``page`` shows no ink, or only specks (see the module's docstring)."""
    if draws_nothing(page):
        return True
    import cv2
    import numpy

    pix = page.get_pixmap(dpi=BLANK_DPI, colorspace=pymupdf.csGRAY, alpha=False)
    gray = numpy.frombuffer(pix.samples_mv, dtype=numpy.uint8).reshape(
        pix.height, pix.stride)[:, :pix.width]
    paper = int(numpy.percentile(gray, 90))
    ink = (gray < paper - INK_CONTRAST).astype(numpy.uint8)
    if not ink.any():
        return True
    count, _, stats = cv2.connectedComponentsWithStats(ink, connectivity=8)[:3]
    return bool((stats[1:, cv2.CC_STAT_AREA] < MIN_BLOT).all())


def ranges(numbers):
    """Page numbers from 0 as the ranges a reader says: "3, 6-5005"."""
    return page_ranges(n + 1 for n in numbers)
