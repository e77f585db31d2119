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
are replaced by the name. A header read with more of its name wrong takes its part from the
pages around it (names_from_neighbours), as parts follow one another.
"""
import difflib
import re
from typing import List, Optional, Sequence

from .hocr import OcrLine, Word, text_of

# The parts' names as headers print them, with how many of their characters may be misread;
# tried in this order (the drawings' name holds the description's).
NAMES = (("说明书附图", 1), ("权利要求书", 2), ("序列表", 0), ("说明书", 1))
DRAWINGS = NAMES[0][0]
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


def misread_name(lines: Sequence[OcrLine]) -> Optional[str]:
    """The part's name the header lines hold with a character or two misread; None when they
    hold it exactly or hold none."""
    found = part_name(lines)
    if found is None:
        return None
    name, start, end = found
    return None if "".join(text_of(line) for line in lines)[start:end] == name else name


def named(lines: Sequence[OcrLine], name: Optional[str] = None) -> List[OcrLine]:
    """The header lines with the words that hold a misread part's name replaced by the name
    (or by ``name``), spanning their boxes; as they are when the name is read right or not
    found."""
    found = part_name(lines)
    if found is None:
        return list(lines)
    name, start, end = (name or found[0],) + found[1:]
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


def header_lines(lines: Sequence[OcrLine], name: Optional[str] = None) -> List[OcrLine]:
    """The header lines as the text layer sets them (see the module's docstring), the name
    they hold set to ``name`` when given."""
    return words_apart(named(lines, name))


PAGE_COUNT = re.compile(r"(\d+)/(\d+)页")


def page_count(lines: Sequence[OcrLine]):
    """(page, pages) of the count a header prints ("2/3页"), None when it is not read."""
    found = PAGE_COUNT.search("".join(text_of(line) for line in lines))
    return (int(found.group(1)), int(found.group(2))) if found else None


def names_from_neighbours(headers: Sequence[Optional[Sequence[OcrLine]]]) -> List[Optional[str]]:
    """For each later page in order (its header's lines, None without a header), the part's name
    its header lost or misread, where the pages around it tell; None where its own name stands
    or nothing can be told. A part's pages are counted from 1 in its headers ("2/5页"), and the
    drawings come last:

    - a page without a name takes the part of the page before it when the page after it is of
      that part too, or when a count says the part goes on (its own count is not its part's
      first or, unread, the page before counts fewer than all its part's pages); else the part
      of the page after it when it counts 1 or, unread, the page after counts 2;
    - a page named the description's after a drawings page is one of the drawings (its name's
      附图 lost) when its count goes on from that page's, or, unread, when it is the last page
      or the page after it is of the drawings too;
    - a page named the drawings' between two of the description is of the description.
    """
    names = [None if lines is None else (part_name(lines) or (None,))[0] for lines in headers]
    counts = [None if lines is None else page_count(lines) for lines in headers]
    last = len(headers) - 1
    out: List[Optional[str]] = []
    for i, lines in enumerate(headers):
        before = names[i - 1] if i > 0 else None
        after = names[i + 1] if i < last else None
        count, count_before = counts[i], counts[i - 1] if i > 0 else None
        count_after = counts[i + 1] if i < last else None
        if lines is None:
            out.append(None)
        elif names[i] == "说明书" and before == DRAWINGS:
            goes_on = count is not None and count_before is not None and \
                count == (count_before[0] + 1, count_before[1])
            out.append(DRAWINGS if goes_on or (count is None and (
                i == last or after == DRAWINGS)) else None)
        elif names[i] == DRAWINGS and before == after == "说明书":
            out.append("说明书")
        elif names[i] is not None:
            out.append(None)
        else:
            before = out[i - 1] or before if i > 0 else None  # a run of unnamed pages
            if before is not None and (before == after or (count is None and (
                    count_before is not None and count_before[0] < count_before[1])) or (
                    count is not None and count[0] > 1)):
                out.append(before)
            elif after is not None and ((count is None and count_after is not None and
                                         count_after[0] == 2) or (
                                            count is not None and count[0] == 1)):
                out.append(after)
            else:
                out.append(None)
    return out


def with_name(lines: Sequence[OcrLine], name: str) -> List[OcrLine]:
    """Header lines (one word each, as header_lines gives them) with the misread words between
    the publication number and the page count (those not in ASCII, and not the count's 页)
    replaced by ``name``, spanning them."""
    misread = [line for line in lines if not text_of(line).isascii() and "页" not in text_of(line)]
    if not misread:
        return list(lines)
    box = _union([line.box for line in misread])
    kept = [line for line in lines if line not in misread]
    named_line = OcrLine(box, misread[0].baseline, [Word(name, box, 0.0)])
    return sorted(kept + [named_line], key=lambda line: line.box[0])
