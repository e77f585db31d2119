"""A later page's running header as the text layer gives it: each word on its own, the part's
name set right.

A running header prints the publication number, the part's name spaced out ("权 利 要 求 书",
"说 明 书 附 图") and the page count far apart on one line. Tesseract reads it as one line whose
words may each span several spaced characters; set as one run from the line's ends (lines.py) its
characters would take the size that makes them reach across the page, taller than the header's
area, where the document model looks for the part's name. So each word of a header line becomes
a line of its own, set at its own height.

Tesseract now and then misreads one character of the spaced name ("权 -- 利要求书", "说明书附，"),
and the page is then lost to its part. A header holds only the number, one of a few names and
the page count, so a name read with a character or two wrong is set right: the words it spans
are replaced by the name.
"""
import difflib
from typing import List, Sequence

from .hocr import OcrLine, Word, text_of

# The parts' names as headers print them, with how many of their characters may be misread;
# tried in this order (the drawings' name holds the description's).
NAMES = (("说明书附图", 1), ("权利要求书", 2), ("序列表", 0), ("说明书", 1))
# The characters a misread name may spread over beyond its own.
SPREAD = 2


def _found(text: str, name: str, errors: int):
    """(start, end) of ``name`` in ``text`` with at most ``errors`` of its characters missing
    or misread, or None."""
    if name in text:
        start = text.index(name)
        return start, start + len(name)
    blocks = [b for b in difflib.SequenceMatcher(None, text, name, autojunk=False)
              .get_matching_blocks() if b.size]
    if not blocks or sum(b.size for b in blocks) < len(name) - errors:
        return None
    start, end = blocks[0].a, blocks[-1].a + blocks[-1].size
    return (start, end) if end - start <= len(name) + SPREAD else None


def part_name(lines: Sequence[OcrLine]):
    """(name, start, end): the part's name the header lines hold, nearly or exactly, and where
    in their characters (text_of, joined); None when they hold none."""
    text = "".join(text_of(line) for line in lines)
    for name, errors in NAMES:
        found = _found(text, name, errors)
        if found is not None:
            return (name,) + found
    return None


def _union(boxes):
    return (min(b[0] for b in boxes), min(b[1] for b in boxes),
            max(b[2] for b in boxes), max(b[3] for b in boxes))


def named(lines: Sequence[OcrLine]) -> List[OcrLine]:
    """The header lines with the words that hold a misread part's name replaced by the name,
    spanning their boxes; as they are when the name is read right or not found."""
    found = part_name(lines)
    if found is None:
        return list(lines)
    name, start, end = found
    out, at, placed = [], 0, False
    for line in lines:
        words, replaced = [], []
        for word in line.words:
            if at < end and at + len(word.text) > start:
                replaced.append(word)
            else:
                words.append(word)
            at += len(word.text)
        if replaced and "".join(w.text for w in replaced) == name:
            words = list(line.words)
        elif replaced and not placed:
            words.append(Word(name, _union([w.box for w in replaced]),
                              sum(w.confidence for w in replaced) / len(replaced)))
            words.sort(key=lambda w: w.box[0])
        placed = placed or bool(replaced)
        if words:
            out.append(line._replace(words=words))
    return out


def words_apart(lines: Sequence[OcrLine]) -> List[OcrLine]:
    """Each word of the header lines as a line of its own, on its line's baseline."""
    return [OcrLine(word.box, line.baseline, [word]) for line in lines for word in line.words]


def header_lines(lines: Sequence[OcrLine]) -> List[OcrLine]:
    """The header lines as the text layer sets them (see the module's docstring)."""
    return words_apart(named(lines))
