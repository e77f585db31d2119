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

import quorl

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
    pix = page.get_pixmap(dpi=BLANK_DPI, colorspace=pymupdf.csGRAY, alpha=False)
    return not quorl._has_blot(pix.samples_mv, pix.width, pix.height, pix.stride, pix.n,
                               contrast=INK_CONTRAST, min_blot=MIN_BLOT)


def blank_pages(doc, numbers):
    """The pages of ``numbers`` (from 0) that ``doc`` shows blank."""
    return {n for n in numbers if is_blank(doc[n])}


def ranges(numbers):
    """Page numbers from 0 as the ranges a reader says: "3, 6-5005"."""
    return page_ranges(n + 1 for n in numbers)
