"""Specks Tesseract read as punctuation, left out of the lines it recognised.

The page is cleaned of isolated specks before it is read (clean.py), but a speck close to a line
stays: a full stop may stand that far from the character before it. Tesseract reads such a speck
as a full stop or a comma ("对系." at a line's end, "部门、。运维"). A speck is told from printed
punctuation by its ink, looked for around the word's box: all of it lies inside a square of
SPECK_POINTS, while a Chinese full stop or comma is at least a quarter of an em across (about 2.5
points), and its ink reaches past a box Tesseract cut too small. A Latin full stop is about as
small as a speck, so the punctuation of Latin text (a neighbour a Latin letter or digit) stays.
"""
from .hocr import OcrLine
from .lines import is_latin

# What Tesseract reads a speck as.
SPECK_READINGS = set(".,。，、'`·")
# The largest ink (in points, each way) that is a speck.
SPECK_POINTS = 1.3
# How far around a word's box its ink is looked for, in points.
SPECK_SEARCH = 0.6


def _latin_beside(words, i):
    before = words[i - 1].text[-1] if i > 0 else ""
    after = words[i + 1].text[0] if i + 1 < len(words) else ""
    return any(is_latin(ch) for ch in before + after)


def words_without_specks(lines, pix, zoom):
    """``lines`` (in page points, read from ``pix`` at ``zoom`` pixels per point) without the
    words that are specks; a line left without words is left out."""
    import quorl

    candidates = [(n, i) for n, line in enumerate(lines) for i, word in enumerate(line.words)
                  if word.text in SPECK_READINGS and not _latin_beside(line.words, i)]
    if not candidates:
        return lines
    pad = SPECK_SEARCH * zoom
    searched = []
    for n, i in candidates:
        x0, y0, x1, y1 = lines[n].words[i].box
        searched.append((int(x0 * zoom - pad), int(y0 * zoom - pad),
                         int(x1 * zoom + pad + 1), int(y1 * zoom + pad + 1)))
    found = quorl._ink_boxes(pix.samples_mv, pix.width, pix.height, pix.stride, pix.n, searched)
    largest = SPECK_POINTS * zoom
    specks = set()
    for place, area, ink in zip(candidates, searched, found):
        inside = ink is None or (ink[0] > area[0] and ink[1] > area[1] and
                                 ink[2] < area[2] and ink[3] < area[3])
        if inside and (ink is None or max(ink[2] - ink[0], ink[3] - ink[1]) <= largest):
            specks.add(place)
    out = []
    for n, line in enumerate(lines):
        words = [word for i, word in enumerate(line.words) if (n, i) not in specks]
        if words:
            out.append(line if len(words) == len(line.words) else OcrLine(
                line.box, line.baseline, words))
    return out
