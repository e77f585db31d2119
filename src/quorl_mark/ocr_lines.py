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
from typing import List, Optional, Sequence, Tuple

import pymupdf

# (character, x0, y0, x1, y1) in page points; " " marks where Tesseract saw a word break.
Glyph = Tuple[str, float, float, float, float]

# The baseline lies this far (in em) below the middle of the characters' boxes, measured on
# generated scans against their text PDFs.
BASELINE_BELOW_MIDDLE = 0.25
# Pieces of a printed line closer than this (in em) are set as one.
NO_GAP = 0.5
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
        elif out and i + 1 < len(piece) and is_latin(out[-1][0]) and is_latin(piece[i + 1][0]):
            out.append((" ",) + tuple(g[1:]))
    return out


def _ems(glyphs):
    return sum(width_of(g[0]) for g in glyphs)


def _extent(piece):
    return min(g[1] for g in piece), max(g[3] for g in piece)


def _room(pieces):
    """Per piece (left to right), how far its characters may reach: its right end, or the left
    end of the next piece when that comes first (the right end of a piece that another follows
    often lies too far right)."""
    ends = []
    for piece, after in zip(pieces, pieces[1:] + [None]):
        x1 = _extent(piece)[1]
        ends.append(min(x1, _extent(after)[0]) if after is not None else x1)
    return ends


def font_size(pieces):
    """The em of a printed line (pieces left to right), or None when it has no piece of three
    characters or more: the median of those pieces' widths over the em their characters take
    (solid setting, as patents print). The right end of a piece that another follows often
    lies too far right; place() narrows such a piece to the room it has."""
    sizes = [(_extent(p)[1] - _extent(p)[0]) / _ems(p) for p in pieces
             if len(p) >= 3 and _extent(p)[1] > _extent(p)[0]]
    return statistics.median(sizes) if sizes else None


def _short_size(pieces):
    """The em of a line of short pieces alone, from their widths (guesses at that length)."""
    sizes = [(_extent(p)[1] - _extent(p)[0]) / _ems(p) for p in pieces
             if _ems(p) > 0 and _extent(p)[1] > _extent(p)[0]]
    return statistics.median(sizes) if sizes else 10.0


def _sorted(pieces):
    return sorted((p for p in map(_kept, pieces) if p), key=lambda p: _extent(p)[0])


def place(pieces, size):
    """The text layer's line of one printed line's pieces (sorted, blanks kept): each piece set
    solid from its left end at ``size``, narrowed where it would run into the next piece."""
    middle = statistics.median((g[2] + g[4]) / 2 for p in pieces for g in p)
    chars = []
    for piece, end in zip(pieces, _room(pieces)):
        x = _extent(piece)[0]
        if chars:
            # A piece closer than half an em to the one before continues it: extraction would
            # read a gap as a blank. Wider gaps (between columns, header fields) stay.
            after = chars[-1][1] + size * width_of(chars[-1][0])
            x = after if x < after + NO_GAP * size else x
        step = min(size, (end - x) / _ems(piece)) if end > x else size
        for g in piece:
            chars.append((g[0], x))
            x += step * width_of(g[0])
    return TextLine(middle + BASELINE_BELOW_MIDDLE * size, size, chars)


def _lines(pieces):
    lines = [_sorted(line) for line in group_lines(pieces)]
    return [line for line in lines if line]


def page_size(pieces: Sequence[Sequence[Glyph]]) -> Optional[float]:
    """The median em of a page's printed lines that have a piece of three characters or more,
    None when none has."""
    known = [size for size in map(font_size, _lines(pieces)) if size is not None]
    return statistics.median(known) if known else None


def text_lines(pieces: Sequence[Sequence[Glyph]],
               fallback_size: Optional[float] = None) -> List[TextLine]:
    """The text layer's lines of a page, top to bottom (see the module's docstring). A line of
    short pieces only (a figure's caption, a page number) takes the page's size, on a page of
    such lines only ``fallback_size`` (the document's)."""
    lines = _lines(pieces)
    sizes = [font_size(line) for line in lines]
    known = [size for size in sizes if size is not None]
    common = statistics.median(known) if known else fallback_size
    return [place(line, size or common or _short_size(line)) for line, size in zip(lines, sizes)]
