"""From the characters Tesseract recognised on a page to the lines of its text layer.

Tesseract reports a printed line in pieces, each with its own box, puts a blank between most
Chinese characters and gives every character the box of its ink, which wanders up and down a
skewed line. ``text_lines`` groups the pieces into printed lines, keeps a blank only where the
page shows a gap between Latin words or numbers, and gives each line one baseline and one font
size, so that extraction reads every printed line as one line.
"""
import dataclasses
import statistics
from typing import List, Sequence, Tuple

# (character, x0, y0, x1, y1) in page points; " " marks where Tesseract saw a word break.
Glyph = Tuple[str, float, float, float, float]

# Where the ink of a CJK character sits in its em square of the text layer's font, measured on
# pages written in that font: its left edge this far right of the origin, its bottom this far
# below the baseline (both in em).
CJK_INK_LEFT = 0.03
CJK_INK_BELOW = 0.08
# Latin letters and digits stand on the baseline; their capitals are this tall (em).
LATIN_CAP_HEIGHT = 0.72
# A blank between two Latin words or numbers needs a gap of at least this share of the em.
WORD_GAP = 0.15


@dataclasses.dataclass
class TextLine:
    """One printed line of the text layer: each character at its x, all on one baseline."""
    baseline: float
    size: float
    chars: List[Tuple[str, float]]  # (character, x of its origin)

    @property
    def text(self):
        return "".join(c for c, _ in self.chars)


def is_cjk(ch):
    return ord(ch) >= 0x2E80


def is_latin(ch):
    return ch.isascii() and ch.isalnum()


def _overlap(a, b):
    """Vertical overlap of two (top, bottom) extents, as a share of the lower of the two."""
    common = min(a[1], b[1]) - max(a[0], b[0])
    height = min(a[1] - a[0], b[1] - b[0])
    return common / height if height > 0 else 0.0


def group_lines(pieces: Sequence[Sequence[Glyph]]) -> List[List[Glyph]]:
    """The pieces joined into printed lines, top to bottom, each line's glyphs left to right.

    A piece joins the line whose extent it overlaps by at least half of the lower of the two:
    the pieces of a skewed line still overlap, while lines set at a pitch above their height
    never do."""
    lines: List[Tuple[List[float], List[Glyph]]] = []
    for piece in sorted((p for p in pieces if p), key=lambda p: min(g[2] for g in p)):
        extent = [min(g[2] for g in piece), max(g[4] for g in piece)]
        for line_extent, glyphs in lines:
            if _overlap(extent, line_extent) >= 0.5:
                glyphs.extend(piece)
                line_extent[0] = min(line_extent[0], extent[0])
                line_extent[1] = max(line_extent[1], extent[1])
                break
        else:
            lines.append((extent, list(piece)))
    lines.sort(key=lambda line: (line[0][0] + line[0][1]) / 2)
    return [sorted(glyphs, key=lambda g: (g[1], g[3])) for _, glyphs in lines]


def font_size(glyphs: Sequence[Glyph]) -> float:
    """The em of a line's characters: the pitch of its CJK characters (set solid, as patents
    are), else the height of their ink, else the height of its Latin capitals and digits."""
    ink = [g for g in glyphs if g[0] != " "]
    cjk = [g for g in ink if is_cjk(g[0])]
    heights = [g[4] - g[2] for g in cjk]
    pitches = []
    for a, b in zip(ink, ink[1:]):
        if is_cjk(a[0]) and is_cjk(b[0]):
            pitch = b[1] - a[1]
            if heights and 0.8 * max(heights) <= pitch <= 1.6 * max(heights):
                pitches.append(pitch)
    if len(pitches) >= 3:
        return statistics.median(pitches)
    if heights:
        return max(heights) / 0.92
    latin = [g[4] - g[2] for g in ink if is_latin(g[0])]
    if latin:
        return max(latin) / LATIN_CAP_HEIGHT
    return max((g[4] - g[2] for g in ink), default=10.0) or 10.0


def baseline(glyphs: Sequence[Glyph], size: float) -> float:
    """One baseline for the whole line: the median bottom of its CJK ink, which sits a little
    below the baseline, else of its Latin letters and digits, which stand on it."""
    cjk = [g[4] for g in glyphs if is_cjk(g[0])]
    if cjk:
        return statistics.median(cjk) - CJK_INK_BELOW * size
    latin = [g[4] for g in glyphs if is_latin(g[0]) and g[0] not in "gjpqy"]
    if latin:
        return statistics.median(latin)
    return statistics.median(g[4] for g in glyphs if g[0] != " ")


def place(glyphs: Sequence[Glyph]) -> TextLine:
    """The text layer's line of one printed line's glyphs (left to right)."""
    size = font_size(glyphs)
    chars: List[Tuple[str, float]] = []
    previous = None  # the last glyph placed
    blank = False  # Tesseract saw a word break since then
    for g in glyphs:
        if g[0].isspace():
            blank = previous is not None
            continue
        if (blank and is_latin(previous[0]) and is_latin(g[0])
                and g[1] - previous[3] >= WORD_GAP * size):
            chars.append((" ", previous[3]))
        x = g[1] - CJK_INK_LEFT * size if is_cjk(g[0]) else g[1]
        chars.append((g[0], x))
        previous, blank = g, False
    return TextLine(baseline(glyphs, size), size, chars)


def text_lines(pieces: Sequence[Sequence[Glyph]]) -> List[TextLine]:
    """The text layer's lines of a page, top to bottom (see the module's docstring)."""
    lines = []
    for glyphs in group_lines(pieces):
        if any(not g[0].isspace() for g in glyphs):
            lines.append(place(glyphs))
    return lines
