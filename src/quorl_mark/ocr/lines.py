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

Older publications (SimSun with MS-Mincho) set CJK punctuation and Latin characters half an em
wide. Set a full em apart, a line's characters after the first of them would stand a quarter
to half an em too far left, five to twenty points at the end of a line. Tesseract's boxes of the
characters are rough one by one, but they follow where the characters are printed: of the two
settings, the one whose places they agree with best on a document's lines is its own. Along a
line, where the boxes of several characters in a row agree that they stand apart from the solid
setting (a blank after a paragraph number, a character Tesseract lost or added), they are moved
there. The layer is written a run at a time in fonts that set their own advances, so a line is
cut into runs where a character stands apart from where the font would put it.
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
# Tesseract's start of a Chinese character lies this far (in em) right of its ink, of other
# characters at it; measured on generated patents and CN110532550A alike.
TESSERACT_LATE = 0.35
# A character is moved where the starts of itself and the NEARBY characters on each side agree
# it stands when they put it NUDGE em or more away (one start alone is a third of an em off
# either way).
NEARBY = 3
NUDGE = 0.25
# A character the layer's font would set further than this (in em) from where it is printed
# starts a line of the layer of its own.
SET_APART = 0.1
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

# How wide half-width setting prints CJK punctuation and Latin characters, in em, and where their
# ink lies, measured on CN110532550A. Brackets and quotation marks it sets wider, as in a full
# em's setting.
NARROW_ADVANCE = 0.5
NARROW_PUNCTUATION = "，。、；：？！"
NARROW_PUNCTUATION_INK = (0.13, 0.28)
NARROW_LATIN_INK = (0.05, 0.45)

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


def _narrow(ch):
    return ch.isascii() or ch in NARROW_PUNCTUATION


def advance_of(ch, narrow=False):
    """The character's advance as printed, in em: in the layer's fonts, or half an em for
    punctuation and Latin characters set ``narrow``."""
    return NARROW_ADVANCE if narrow and _narrow(ch) else width_of(ch)


def printed_ink(ch, narrow=False):
    """Where the character's printed ink starts and ends, in em from its origin."""
    if narrow and _narrow(ch):
        return NARROW_LATIN_INK if ch.isascii() else NARROW_PUNCTUATION_INK
    return ink_of(ch)


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


def _ems(text, narrow=False):
    return sum(advance_of(c, narrow) for c in text)


def _inked_ems(text, narrow=False):
    """The em the ink of ``text`` spans, set solid."""
    return _ems(text, narrow) - printed_ink(text[0], narrow)[0] - (
        advance_of(text[-1], narrow) - printed_ink(text[-1], narrow)[1])


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


def _starts(group: Sequence[Word], text: str):
    """Tesseract's start of each character of ``text`` (the group's words joined, made full
    width), None for a blank or where it gave none; None for all when the text's characters are
    no longer the words' one for one."""
    starts = []
    for word in group:
        chars = "".join(word.text.split())
        if starts and chars and len(starts) < len(text) and text[len(starts)] == " ":
            starts.append(None)
        starts += list(word.starts) if len(word.starts) == len(chars) else [None] * len(chars)
    return starts if len(starts) == len(text) else [None] * len(text)


def _runs(line: OcrLine, size: float):
    """The line's text split where its words lie SPLIT_GAP em further apart than their
    characters take, each run with its ink's ends and Tesseract's starts of its characters
    (_starts): the line's own ends outside, the words' ends at a gap. Words with unreliable
    boxes never split a line."""
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
        joined = full_width(_joined(group))
        text = paragraph_number(joined)
        if text:
            starts = _starts(group, joined)
            if text != joined:  # the marks read after a paragraph number left out
                end = PARAGRAPH_NUMBER.match(joined).end()
                starts[end - (len(joined) - len(text)):end] = []
            runs.append((text, left, right, starts))
    return runs


def _run_size(text, left, right, narrow=False):
    inked = _inked_ems(text, narrow)
    return (right - left) / inked if inked > 0 and right > left else None


def page_size(lines: Sequence[OcrLine], narrow=False) -> Optional[float]:
    """The median size of the page's runs of SHORT_RUN em or more, None when it has none."""
    sizes = []
    for line in lines:
        for text, left, right, _ in _runs(line, _height_size(line)):
            size = _run_size(text, left, right, narrow)
            if size and _ems(text) >= SHORT_RUN:
                sizes.append(size)
    return statistics.median(sizes) if sizes else None


def _origins(text, left, size, narrow):
    """The x of each character's origin, ``text`` set solid from the ink at ``left``."""
    x = left - printed_ink(text[0], narrow)[0] * size
    origins = []
    for ch in text:
        origins.append(x)
        x += advance_of(ch, narrow) * size
    return origins


def _late(ch):
    return TESSERACT_LATE if not ch.isascii() and ch not in PUNCTUATION_INK else 0.0


def _offsets(text, origins, starts, size, narrow):
    """How far, in em, Tesseract's start of each character lies from the ink of the character
    set at its origin (None where it gave no start), its lateness taken off."""
    return [None if start is None else
            (start - x) / size - printed_ink(ch, narrow)[0] - _late(ch)
            for ch, x, start in zip(text, origins, starts)]


def _misfit(text, left, right, starts, narrow):
    """How far Tesseract's starts of the run's characters lie from where ``text`` set
    ``narrow`` or not between ``left`` and ``right`` puts their ink, in em summed over the
    characters, each measured from the median."""
    size = _run_size(text, left, right, narrow)
    if size is None:
        return 0.0
    off = [o for o in _offsets(text, _origins(text, left, size, narrow), starts, size, narrow)
           if o is not None]
    middle = statistics.median(off) if off else 0.0
    return sum(abs(o - middle) for o in off)


def _nudged(text, origins, starts, size, narrow):
    """``origins`` moved where Tesseract's starts of the characters around each (NEARBY on
    each side, the line's ends counting as agreeing with the setting) agree that it stands
    NUDGE em or more away: after a blank the line was set with, or characters Tesseract lost
    or added, a solid setting puts the characters between them and the far end of the line
    off by the difference. Never closer to the one before than half its advance."""
    # The ends of the line's ink are measured on the image: beyond them, nothing is off.
    offsets = [0.0] * NEARBY + _offsets(text, origins, starts, size, narrow) + [0.0] * NEARBY
    moved = list(origins)
    for k in range(len(text)):
        near = [o for o in offsets[k:k + 2 * NEARBY + 1] if o is not None]
        if len(near) >= NEARBY + 1:
            shift = statistics.median(near)
            if abs(shift) >= NUDGE:
                moved[k] += shift * size
        if k:
            moved[k] = max(moved[k], moved[k - 1] + advance_of(text[k - 1], narrow) * size / 2)
    return moved


def narrow_setting(pages: Sequence[Sequence[OcrLine]]) -> bool:
    """Whether a document's pages (each its OcrLines) set their CJK punctuation and Latin
    characters half an em wide: whether Tesseract's boxes of the characters on runs holding
    such characters agree better with that than with a full em's setting."""
    full = half = 0.0
    for lines in pages:
        for line in lines:
            for text, left, right, starts in _runs(line, _height_size(line)):
                if sum(s is not None for s in starts) >= 4 and any(map(_narrow, text)):
                    full += _misfit(text, left, right, starts, False)
                    half += _misfit(text, left, right, starts, True)
    return half < full


def _size(text, left, right, line, common, narrow=False):
    own = _run_size(text, left, right, narrow)
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


def _pieces(chars, size):
    """``chars`` ((character, x) of one run) cut where the layer's fonts, which set the
    characters they are given one after another by their own advances, would put a character
    more than SET_APART em from its x; each character at the x the font sets it at. Never after
    a Latin character set narrower than printed: a text extraction reads the gap that would
    leave there as a blank ("[ 0010]", "CN 1105"), so the characters after it stay where the
    font puts them until one would stand too far right."""
    pieces, x = [], None
    for ch, at in chars:
        if x is not None and x < at and pieces[-1][-1][0].isascii():
            at = x
        if x is None or abs(at - x) > SET_APART * size:
            pieces.append([])
            x = at
        pieces[-1].append((ch, x))
        x += width_of(ch) * size
    return pieces


def text_lines(lines: Sequence[OcrLine], fallback_size: Optional[float] = None,
               narrow=False) -> List[TextLine]:
    """The text layer's lines of a page in reading order (see the module's docstring).
    ``fallback_size`` is the document's size, for a page without long lines; ``narrow`` sets
    its punctuation and Latin characters half an em wide (narrow_setting)."""
    common = page_size(lines, narrow) or fallback_size
    out = []
    for line in lines:
        cjk = _is_cjk("".join(word.text for word in line.words))
        for text, left, right, starts in _runs(line, common or _height_size(line)):
            size = _size(text, left, right, line, common, narrow)
            origins = _origins(text, left, size, narrow)
            chars = list(zip(text, _nudged(text, origins, starts, size, narrow)))
            # Tesseract fits one baseline to the line: along the bottom of its ink where that is
            # mostly Chinese.
            rise = CJK_BASELINE_RISE * size if cjk else 0.0
            out += [TextLine(line.baseline - rise, size, piece) for piece in _pieces(chars, size)]
    return reading_order(out)
