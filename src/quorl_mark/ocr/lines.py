"""From the lines Tesseract recognised on a page (hocr.py) to the lines of its text layer.

A line's box is where its ink is (Tesseract's, checked against the page image by
page.ink_lines), and its baseline is Tesseract's; the places of the words inside it are
guesses that are often half a character off. So each printed
line is set as it was printed: its characters solid (CJK characters a full em apart, ASCII at
Helvetica's widths, as patents set them), from the left end of its ink, at the size that makes
them reach the right end. A line Tesseract reads with a wide gap in it (a page header's
publication number, title and page count) is split there, each run set from its own ends. A
short run, whose ends measure its size poorly, takes the size of the page's long lines when its
ink is about as tall as theirs. Tesseract puts a blank between most Chinese characters: a blank
is kept only between two Latin words or numbers. Chinese punctuation it reads as ASCII is made
full width again.
"""
import dataclasses
import re
import statistics
from typing import List, Optional, Sequence, Tuple

import pymupdf

from .hocr import OcrLine, Word

# The fonts of the text layer: PyMuPDF's built-in ones, not embedded.
CJK_FONT = "china-s"
LATIN_FONT = "helv"
# The ellipsis in CJK_FONT reads back as the midline one ("⋯"); this CJK font's reads back
# as itself, a full em wide all the same.
ELLIPSIS_FONT = "japan"
# Where the ink of a CJK character starts after its origin and ends before its advance, in em;
# measured on generated scans against their text PDFs.
CJK_BEARING = 0.05
# CJK punctuation whose ink leaves much of its em blank: (ink start, ink end) in em, measured on
# the CJK font patents are rendered with here.
PUNCTUATION_INK = {
    "，": (0.42, 0.58), "。": (0.02, 0.29), "、": (0.03, 0.28), "；": (0.41, 0.57),
    "：": (0.44, 0.56), "？": (0.28, 0.71), "！": (0.44, 0.56), "）": (0.27, 0.62),
    "（": (0.38, 0.73), "」": (0.23, 0.5), "「": (0.5, 0.77), "》": (0.11, 0.5),
    "《": (0.5, 0.89), "】": (0.19, 0.5), "【": (0.5, 0.81), "“": (0.01, 0.35),
    "”": (0.01, 0.35), "…": (0.07, 0.73), "·": (0.07, 0.2),
}
# The baseline of a line of CJK text lies this far (in em) above the one Tesseract reports,
# which runs along the bottom of the characters' ink.
CJK_BASELINE_RISE = 0.06
# The height of a line's box, in em, when its characters are CJK.
CJK_LINE_HEIGHT = 0.95
# A gap between two words wider than this (in em) splits a line into runs set apart.
SPLIT_GAP = 2.5
# A run shorter than this (in em) takes the page's size when its own is this close to it.
SHORT_RUN = 8
SAME_SIZE = 0.15
# A line's box reaching further than this (in em) past its last word took in ink of the line
# below or above (Tesseract's box of a paragraph's short last line often reaches as far as the
# next line's): the run ends where its words do.
OVERREACH = 2.0
# A long run more than this share off the page's size is set in it, unless its ink is as tall as
# its own size says (a heading, a title).
OFF_SIZE = 0.25

FULL_WIDTH = {"(": "（", ")": "）", ",": "，", ";": "；", ":": "：", "?": "？", "!": "！"}
# Tesseract reads the ellipsis as the midline one, and the enumeration comma between two Chinese
# characters as a grave accent or a backslash.
ELLIPSIS = {"⋯": "…"}
ENUMERATION_COMMA = "`\\"
QUOTATION_MARKS = '"“”'
# A bibliographic field's code on the first page, printed in ASCII brackets beside its name.
FIELD_CODE = re.compile(r"^\d\d$")
# Punctuation of lists of Latin symbols ("S1,S2,…,SN"): beside it a comma stays a comma.
LIST_MARKS = "…"
# A paragraph number ("[0001]") opening a line: Tesseract reads the blank after it as a
# quotation mark now and then (a paragraph never opens with one), and on fax-mode scans some of
# its digits as the letters they resemble.
PARAGRAPH_NUMBER = re.compile(r"^\[([0-9oOlIt|!]{4,5})\][“”‘’\"'`]*")
DIGIT_LOOKALIKES = str.maketrans("oOlIt|!", "0011111")


def paragraph_number(text):
    """``text`` with the paragraph number opening it read right (see PARAGRAPH_NUMBER)."""
    return PARAGRAPH_NUMBER.sub(lambda m: "[%s]" % m.group(1).translate(DIGIT_LOOKALIKES), text)

_LATIN = {}


def font_of(ch):
    if ch == "…":
        return ELLIPSIS_FONT
    return LATIN_FONT if ch.isascii() else CJK_FONT


def _latin(ch):
    """An ASCII character's advance and ink (start, end) in em, in Helvetica."""
    if ch not in _LATIN:
        font = pymupdf.Font(LATIN_FONT)
        box = font.glyph_bbox(ord(ch))
        advance = font.glyph_advance(ord(ch))
        _LATIN[ch] = (advance, (box.x0, box.x1) if box.x1 > box.x0 else (0.0, advance))
    return _LATIN[ch]


def width_of(ch):
    """The character's advance in the text layer, in em."""
    return _latin(ch)[0] if ch.isascii() else 1.0


def ink_of(ch):
    """Where the character's ink starts and ends, in em from its origin."""
    if ch.isascii():
        return _latin(ch)[1]
    return PUNCTUATION_INK.get(ch, (CJK_BEARING, 1.0 - CJK_BEARING))


@dataclasses.dataclass
class TextLine:
    """One run of a printed line in the text layer: each character at its x, on one baseline."""
    baseline: float
    size: float
    chars: List[Tuple[str, float]]  # (character, x of its origin)

    @property
    def text(self):
        return "".join(c for c, _ in self.chars)


def is_latin(ch):
    return ch.isascii() and ch.isalnum()


def _joined(words: Sequence[Word]) -> str:
    """The words' characters, with a blank only between two Latin words or numbers."""
    text = ""
    for word in words:
        chars = "".join(word.text.split())
        if text and chars and is_latin(text[-1]) and is_latin(chars[0]):
            text += " "
        text += chars
    return text


def full_width(text):
    """``text`` with the ASCII punctuation Tesseract reads in Chinese text made full width, as
    it is printed there: brackets around Chinese characters or beside one (not a function's,
    "G(z)"), other punctuation and unpaired brackets next to one, a full stop after one that
    ends the line or stands before another, an enumeration comma between two, quotation marks
    beside one, and the ellipsis.
    Brackets around ASCII text with none beside them ("(2006.01)") stay, and so do those of a
    bibliographic field's code ("(21)申请号")."""
    chars = [ELLIPSIS.get(ch, ch) for ch in text]

    def chinese(at):
        return 0 <= at < len(chars) and not chars[at].isascii() and chars[at] not in LIST_MARKS

    open_at, paired = [], set()
    for i, ch in enumerate(chars):
        if ch == "(":
            open_at.append(i)
        elif ch == ")" and open_at:
            start = open_at.pop()
            paired.update((start, i))
            inside = "".join(chars[start + 1:i])
            function = start > 0 and is_latin(chars[start - 1])  # "G(z)"
            if not inside.isascii() or (not FIELD_CODE.match(inside) and not function and (
                    chinese(start - 1) or chinese(i + 1))):
                chars[start], chars[i] = FULL_WIDTH[chars[start]], FULL_WIDTH[ch]
    _quotation_marks(chars, chinese)

    for i, ch in enumerate(chars):
        if ch in FULL_WIDTH and i not in paired:
            if chinese(i - 1) or chinese(i + 1):
                chars[i] = FULL_WIDTH[ch]
        elif ch == "." and chinese(i - 1) and (i + 1 == len(chars) or chinese(i + 1)):
            chars[i] = "。"  # never a decimal point or an abbreviation's between Chinese text
        elif ch in ENUMERATION_COMMA and chinese(i - 1) and chinese(i + 1):
            chars[i] = "、"
    return "".join(chars)


def _quotation_marks(chars, chinese):
    """Turns each ASCII quotation mark beside a Chinese character of ``chars``, or after an
    opening one, into the opening or closing one: the other of the quotation mark nearest it
    on the line (the first of two ASCII ones opens), or, with none, opening before Chinese
    text and closing after it."""
    marks = [i for i, ch in enumerate(chars) if ch in QUOTATION_MARKS]
    for n, i in enumerate(marks):
        before = chars[marks[n - 1]] if n > 0 else None
        after = chars[marks[n + 1]] if n + 1 < len(marks) else None
        if chars[i] != '"' or not (chinese(i - 1) or chinese(i + 1) or before == "“"):
            continue
        if before == "“" or after == "“":
            chars[i] = "”"
        elif before == "”" or after in ("”", '"'):
            chars[i] = "“"
        else:
            chars[i] = "“" if chinese(i + 1) and not chinese(i - 1) else "”"


def _ems(text):
    return sum(width_of(c) for c in text)


def _inked_ems(text):
    """The em the ink of ``text`` spans, set solid."""
    return _ems(text) - ink_of(text[0])[0] - (width_of(text[-1]) - ink_of(text[-1])[1])


def _height_size(line: OcrLine):
    return (line.box[3] - line.box[1]) / CJK_LINE_HEIGHT


def _reliable(word: Word, size: float) -> bool:
    """Whether a word's box is about as wide as its characters: Tesseract gives some words a
    sliver of a box far from their ink. (Its height tells nothing: the ink of 一 is flat.)"""
    return word.box[2] - word.box[0] >= 0.3 * _ems(word.text) * size


def _group_ends(group: Sequence[Word], size: float):
    """Where a group of words' ink starts and ends: at its first and last reliable boxes, moved
    out by the characters of unreliable words before and after them."""
    reliable = [i for i, word in enumerate(group) if _reliable(word, size)]
    if not reliable:
        return group[0].box[0], group[-1].box[2]
    first, last = reliable[0], reliable[-1]
    before = sum(_ems(word.text) for word in group[:first])
    after = sum(_ems(word.text) for word in group[last + 1:])
    return group[first].box[0] - before * size, group[last].box[2] + after * size


def _runs(line: OcrLine, size: float):
    """The line's text split where its words lie SPLIT_GAP em further apart than their
    characters take, each run with its ink's ends: the line's own ends outside, the words' ends
    at a gap. Words with unreliable boxes never split a line."""
    groups = [[line.words[0]]]
    last, between = (line.words[0], 0.0) if _reliable(line.words[0], size) else (None, 0.0)
    for word in line.words[1:]:
        if not _reliable(word, size):
            between += _ems(word.text)
            groups[-1].append(word)
            continue
        if last is not None and word.box[0] - last.box[2] > (SPLIT_GAP + between) * size:
            groups.append([])
        groups[-1].append(word)
        last, between = word, 0.0
    runs = []
    for i, group in enumerate(groups):
        left, right = _group_ends(group, size)
        left = line.box[0] if i == 0 else left
        if i == len(groups) - 1 and line.box[2] - right <= OVERREACH * size:
            right = line.box[2]
        text = paragraph_number(full_width(_joined(group)))
        if text:
            runs.append((text, left, right))
    return runs


def _run_size(text, left, right):
    inked = _inked_ems(text)
    return (right - left) / inked if inked > 0 and right > left else None


def page_size(lines: Sequence[OcrLine]) -> Optional[float]:
    """The median size of the page's runs of SHORT_RUN em or more, None when it has none."""
    sizes = []
    for line in lines:
        for text, left, right in _runs(line, _height_size(line)):
            size = _run_size(text, left, right)
            if size and _ems(text) >= SHORT_RUN:
                sizes.append(size)
    return statistics.median(sizes) if sizes else None


def _size(text, left, right, line, common):
    own = _run_size(text, left, right)
    by_height = _height_size(line)
    if own is not None and _ems(text) >= SHORT_RUN:
        if common is None or abs(own - common) <= OFF_SIZE * common or \
                abs(own - by_height) <= SAME_SIZE * by_height:
            return own
        # Far from the page's size and from its own ink's height: its ends measure nothing
        # (see OVERREACH).
        return common
    if common is not None and (abs(by_height - common) <= SAME_SIZE * common or (
            own is not None and abs(own - common) <= SAME_SIZE * common)):
        return common
    return own if own is not None and abs(own - by_height) <= SAME_SIZE * by_height else by_height


def _is_cjk(text):
    return sum(not c.isascii() for c in text) * 2 >= len(text)


def reading_order(lines: List[TextLine]) -> List[TextLine]:
    """The lines top to bottom, those on one printed line (baselines less than half an em
    apart) left to right: the order a text extraction gives them in, as the layer is written.
    Tesseract may give the pieces of a wide page header right to left."""
    rows: List[List[TextLine]] = []
    for line in sorted(lines, key=lambda line: line.baseline):
        if rows and line.baseline - rows[-1][0].baseline < 0.5 * min(line.size, rows[-1][0].size):
            rows[-1].append(line)
        else:
            rows.append([line])
    return [line for row in rows for line in sorted(row, key=lambda line: line.chars[0][1])]


def text_lines(lines: Sequence[OcrLine], fallback_size: Optional[float] = None) -> List[TextLine]:
    """The text layer's lines of a page in reading order (see the module's docstring).
    ``fallback_size`` is the document's size, for a page without long lines."""
    common = page_size(lines) or fallback_size
    out = []
    for line in lines:
        cjk = _is_cjk("".join(word.text for word in line.words))
        for text, left, right in _runs(line, common or _height_size(line)):
            size = _size(text, left, right, line, common)
            x = left - ink_of(text[0])[0] * size
            chars = []
            for ch in text:
                chars.append((ch, x))
                x += width_of(ch) * size
            # Tesseract fits one baseline to the line: along the bottom of its ink where that is
            # mostly Chinese.
            rise = CJK_BASELINE_RISE * size if cjk else 0.0
            out.append(TextLine(line.baseline - rise, size, chars))
    return reading_order(out)
