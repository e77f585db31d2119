"""Tesseract's hOCR output read into plain data: the printed lines it found, each with its box,
its baseline and its words.

Tesseract measures a line's box and baseline on the ink of the page, while the box of a word
comes from where the recogniser placed its characters and is often off by half a character;
lines.py uses the word boxes only to find the gaps that split a line. The boxes of a word's
characters (``hocr_char_boxes``) are as rough one by one, a third of an em either way, but
together they tell how wide a line's punctuation and Latin characters were set (lines.py).
"""
from typing import List, NamedTuple, Tuple

from lxml import html

Box = Tuple[float, float, float, float]


class Word(NamedTuple):
    text: str
    box: Box
    confidence: float = 100.0  # Tesseract's, 0 to 100
    # Where Tesseract puts each character of ``text`` (blanks left out) to start, left to right;
    # empty when it gave no character boxes, or ``text`` was changed since.
    starts: Tuple[float, ...] = ()


class OcrLine(NamedTuple):
    box: Box
    baseline: float  # y of the baseline at the middle of the box
    words: List[Word]


def _properties(element):
    """The properties of an hOCR element's title ("bbox 1 2 3 4; baseline 0.01 -5") by name."""
    found = {}
    for item in element.get("title", "").split(";"):
        name, _, value = item.strip().partition(" ")
        if name:
            found[name] = value.split()
    return found


def _box(values, scale, shift):
    x0, y0, x1, y1 = (float(v) for v in values)
    dx, dy = shift
    return (x0 + dx) * scale, (y0 + dy) * scale, (x1 + dx) * scale, (y1 + dy) * scale


def _page_tree(document: bytes):
    # Tesseract writes UTF-8; said so, as a page without its <meta> would be read as Latin-1.
    return html.fromstring(document, parser=html.HTMLParser(encoding="utf-8"))


def _starts(word, text, scale, dx):
    """The x where each character of ``word`` (an ocrx_word element whose characters are
    ``text``) starts, from its ocrx_cinfo boxes; () unless every character has one."""
    starts, chars = [], ""
    for char in word.xpath("./span[@class='ocrx_cinfo']"):
        box = _properties(char).get("x_bboxes")
        glyphs = "".join(char.text_content().split())
        if box is None or not glyphs:
            continue
        chars += glyphs
        starts += [(float(box[0]) + dx) * scale] * len(glyphs)
    return tuple(starts) if chars == text else ()


def _lines_in(element, scale, shift) -> List[OcrLine]:
    lines = []
    for line in element.xpath(".//span[starts-with(@id, 'line_')]"):
        properties = _properties(line)
        if "bbox" not in properties:
            continue
        box = _box(properties["bbox"], scale, shift)
        words = []
        for word in line.xpath(".//span[@class='ocrx_word']"):
            text, found = "".join(word.text_content().split()), _properties(word)
            if text and "bbox" in found:
                words.append(Word(text, _box(found["bbox"], scale, shift),
                                  float(found.get("x_wconf", ("100",))[0]),
                                  _starts(word, text, scale, shift[0])))
        if not words:
            continue
        slope, offset = (float(v) for v in properties.get("baseline", ("0", "0")))
        # hOCR gives the baseline from the box's bottom left corner, in pixels.
        baseline = box[3] + offset * scale + slope * (box[2] - box[0]) / 2
        lines.append(OcrLine(box, baseline, words))
    return lines


def parse(document: bytes, scale: float, shift=(0, 0)) -> List[OcrLine]:
    """The lines of an hOCR page in Tesseract's reading order, measured in pixels moved by
    ``shift`` (of an image cut from a larger one) times ``scale``. Lines without any word are
    left out."""
    if not document.strip():
        return []
    return _lines_in(_page_tree(document), scale, shift)


def parse_pages(document: bytes, scale: float, shifts) -> List[List[OcrLine]]:
    """The lines of each page of an hOCR document of several images (Tesseract given a list of
    them), as ``parse`` gives them, page i measured from ``shifts[i]``."""
    pages = [[] for _ in shifts]
    if document.strip():
        divs = _page_tree(document).xpath("//div[@class='ocr_page']")
        for i, (div, shift) in enumerate(zip(divs, shifts)):
            pages[i] = _lines_in(div, scale, shift)
    return pages


def moved(line: OcrLine, shift, scale: float) -> OcrLine:
    """``line`` measured in pixels moved by ``shift`` times ``scale``, as ``parse`` measures."""
    def box(b):
        return _box(b, scale, shift)
    return OcrLine(box(line.box), (line.baseline + shift[1]) * scale,
                   [word._replace(box=box(word.box),
                                  starts=tuple((x + shift[0]) * scale for x in word.starts))
                    for word in line.words])


def text_of(line: OcrLine) -> str:
    """The line's characters, without blanks."""
    return "".join(word.text for word in line.words)
