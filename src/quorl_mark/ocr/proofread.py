"""The text layer of a scan proofread against the patent's own text, its full-text HTML.

Tesseract misreads some characters of the typeface patents are printed in the same way every
time (骤 as 又, 缀 as 绥, S as $). Where the recognised text and the patent's text agree on
several characters before and after a short stretch and disagree inside it, by as many
characters on each side, the stretch is a misreading and takes the patent's characters, at the
places the recognised ones had. Nothing is inserted or removed, and a stretch that the two texts
do not both enclose in agreeing characters (a running header, a page number, a formula the HTML
gives another way) is left as read. A text that agrees with the patent's in less than
AGREEMENT of its characters is another patent's and left as read: between two patents, short
stretches of agreeing boilerplate are many.
"""
from typing import List, Sequence

from .lines import TextLine

# Characters that must agree on each side of a stretch that is replaced.
CONTEXT = 4
# The longest stretch replaced, in characters, and the longest run of misreadings and
# agreeing characters between them.
LONGEST = 3
WINDOW = 8
# The least share of the recognised characters the patent's text must agree with: below it the
# text is another patent's, or another part of it, and agreement around a stretch is chance.
AGREEMENT = 0.6


def _places(pages):
    """(line, index) of every character of the layer that is not a blank, in reading order."""
    return [(line, k) for lines in pages for line in lines
            for k, (ch, _) in enumerate(line.chars) if not ch.isspace()]


def _misreadings(opcodes):
    """The opcodes of the stretches read with as many characters as are printed, between two
    agreeing runs of CONTEXT characters where nothing else stands but shorter agreeing runs and
    differences of at most LONGEST characters, WINDOW characters in all: misreadings close
    together ("步又：Al" for "步骤：A1"), or beside a character lost or added ("步又$3-S$6" for
    "步骤S3-S6"), which is left as read."""
    anchors = [k for k, (tag, i1, i2, _, _) in enumerate(opcodes)
               if tag == "equal" and i2 - i1 >= CONTEXT]
    for start, end in zip(anchors, anchors[1:]):
        inside = opcodes[start + 1:end]
        if inside and inside[-1][2] - inside[0][1] <= WINDOW and all(
                max(i2 - i1, j2 - j1) <= LONGEST for _, i1, i2, j1, j2 in inside):
            yield from (op for op in inside
                        if op[0] == "replace" and op[2] - op[1] == op[4] - op[3])


def proofread(pages: Sequence[List[TextLine]], reference: str) -> int:
    """Corrects the misreadings in ``pages`` (each a page's TextLines in reading order) in place
    against ``reference`` (the patent's text); returns how many characters it changed."""
    import quorl

    places = _places(pages)
    read = "".join(line.chars[k][0] for line, k in places)
    truth = "".join(reference.split())
    opcodes = quorl._opcodes(truth, read)
    agreeing = sum(j2 - j1 for tag, _, _, j1, j2 in opcodes if tag == "equal")
    if agreeing < AGREEMENT * len(read):
        return 0
    changed = 0
    for _, i1, i2, j1, j2 in _misreadings(opcodes):
        if places[j1][0] is not places[j2 - 1][0]:
            continue  # across two lines: not one misread stretch
        for i, j in zip(range(i1, i2), range(j1, j2)):
            line, k = places[j]
            line.chars[k] = (truth[i], line.chars[k][1])
            changed += 1
    return changed
