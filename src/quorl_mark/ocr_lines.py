"""From the characters Tesseract recognised on a page to the lines of its text layer.

PyMuPDF reports Tesseract's result as pieces of printed lines (runs of words), each character
with a box; the box of a piece is where its ink is, while the characters' boxes inside it are
spread by guesswork, and their heights are the line's. Tesseract also puts a blank between most
Chinese characters. ``text_lines`` groups the pieces into printed lines, keeps a blank only
between two Latin words or numbers, gives each printed line one font size and one baseline (so a
skewed scan still reads one line per printed line), and sets each piece's characters from its
left edge at the widths of the text layer's fonts, as the printed line was set.
"""
import dataclasses
import statistics
from typing import List, Sequence, Tuple

import pymupdf

# (character, x0, y0, x1, y1) in page points; " " marks where Tesseract saw a word break.
Glyph = Tuple[str, float, float, float, float]

# The baseline lies this far (in em) below the middle of the characters' boxes, measured on
# generated scans against their text PDFs.
BASELINE_BELOW_MIDDLE = 0.25
# The fonts of the text layer: PyMuPDF's built-in ones, not embedded. CJK and other wide
# characters take a full em; ASCII characters Helvetica's widths, as patents set them.
CJK_FONT = "china-s"
LATIN_FONT = "helv"
_LATIN_WIDTHS = {}


def font_of(ch):
    return LATIN_FONT if ch.isascii() else CJK_FONT


def width_of(ch):
    """The character's advance in the text layer, in em."""
    if not ch.isascii():
        return 1.0
    if ch not in _LATIN_WIDTHS:
        _LATIN_WIDTHS[ch] = pymupdf.get_text_length(ch, fontname=LATIN_FONT, fontsize=1.0)
    return _LATIN_WIDTHS[ch]


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


def group_lines(pieces: Sequence[Sequence[Glyph]]) -> List[List[List[Glyph]]]:
    """The pieces joined into printed lines, top to bottom.

    A piece joins the line whose extent it overlaps by at least half of the lower of the two:
    the pieces of a skewed line still overlap, while lines set at a pitch above their height
    never do."""
    lines: List[Tuple[List[float], List[List[Glyph]]]] = []
    for piece in sorted((list(p) for p in pieces if p), key=lambda p: min(g[2] for g in p)):
        extent = [min(g[2] for g in piece), max(g[4] for g in piece)]
        for line_extent, members in lines:
            if _overlap(extent, line_extent) >= 0.5:
                members.append(piece)
                line_extent[0] = min(line_extent[0], extent[0])
                line_extent[1] = max(line_extent[1], extent[1])
                break
        else:
            lines.append((extent, [piece]))
    lines.sort(key=lambda line: (line[0][0] + line[0][1]) / 2)
    return [members for _, members in lines]


def _kept(piece):
    """A piece's characters with blanks only between two Latin words or numbers."""
    out = []
    for i, g in enumerate(piece):
        if not g[0].isspace():
            out.append(g)
        elif 0 < i < len(piece) - 1 and out and is_latin(out[-1][0]) and is_latin(
                piece[i + 1][0]) and not out[-1][0].isspace():
            out.append((" ",) + tuple(g[1:]))
    return out


def _ems(glyphs):
    return sum(width_of(g[0]) for g in glyphs)


def segments(pieces):
    """A printed line's pieces (left to right) joined into runs set solid: a piece that starts
    where the run so far would end, give or take the line's height, continues it; one further
    right starts a run of its own (the header's number, title and page count)."""
    height = statistics.median(g[4] - g[2] for p in pieces for g in p)
    runs = []
    for piece in pieces:
        x0 = min(g[1] for g in piece)
        if runs and x0 <= runs[-1][0] + _ems(runs[-1][2]) * height + height / 2:
            runs[-1][1] = max(g[3] for g in piece)
            runs[-1][2].extend(piece)
        else:
            runs.append([x0, max(g[3] for g in piece), list(piece)])
    return runs


def font_size(runs):
    """The em of a printed line: the width of its runs over the em their characters take.

    Tesseract's boxes of single characters are guesses, and so are the right ends of pieces that
    another piece follows; the left end of a run and the right end of its last piece are where
    the ink is. Runs of one or two characters are left out unless there is nothing else."""
    sizes = [(x1 - x0) / _ems(glyphs) for x0, x1, glyphs in runs
             if len(glyphs) >= 3 and x1 > x0]
    if not sizes:
        sizes = [(x1 - x0) / _ems(glyphs) for x0, x1, glyphs in runs if x1 > x0]
    return statistics.median(sizes) if sizes else 10.0


def place(pieces):
    """The text layer's line of one printed line's pieces."""
    pieces = sorted((p for p in map(_kept, pieces) if p), key=lambda p: min(g[1] for g in p))
    runs = segments(pieces)
    size = font_size(runs)
    middle = statistics.median((g[2] + g[4]) / 2 for p in pieces for g in p)
    chars = []
    for x, _, glyphs in runs:
        if chars:  # runs set wider than they print must not run into one another
            x = max(x, chars[-1][1] + size * width_of(chars[-1][0]))
        for g in glyphs:
            chars.append((g[0], x))
            x += size * width_of(g[0])
    return TextLine(middle + BASELINE_BELOW_MIDDLE * size, size, chars)


def text_lines(pieces: Sequence[Sequence[Glyph]]) -> List[TextLine]:
    """The text layer's lines of a page, top to bottom (see the module's docstring)."""
    return [place(line) for line in group_lines(pieces)
            if any(not g[0].isspace() for p in line for g in p)]
