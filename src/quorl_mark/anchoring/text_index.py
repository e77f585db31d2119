"""Every occurrence of many phrases in one text, found through one index of the text.

The index holds a 64-bit polynomial hash of every window of WINDOW code points, sorted, and the
text's prefix hashes. A phrase's candidates are the places of its rarest window; a candidate
whose whole-phrase hash agrees is confirmed with ``str.startswith``, so a hash collision can
cost time but never give a wrong place. Everything but the confirmation runs in numpy, over all
phrases at once.

FoldedText is the text with blanks removed and every character in its compatibility form
(NFKC, so full-width letters, digits and punctuation become half-width), with the way back to
the text's positions, for phrases typed with other blanks or widths.
"""
import functools
import unicodedata

import numpy as np

WINDOW = 4
# Windows of a phrase whose counts are compared to find its rarest.
SAMPLED = 4
_BASE = np.uint64(0x9E3779B97F4A7C15)
_INVERSE = np.uint64(pow(int(_BASE), -1, 1 << 64))


def code_points(text):
    return np.frombuffer(text.encode("utf-32-le", "surrogatepass"), dtype="<u4").astype(np.uint64)


def _powers(base, count):
    powers = np.full(count, base, dtype=np.uint64)
    powers[0] = 1
    return np.cumprod(powers, dtype=np.uint64)


class _Hashes:
    """Prefix hashes of a string: the hash of any stretch in two array operations."""

    def __init__(self, text):
        codes = code_points(text)
        size = len(codes) + 1
        self.powers, self.inverse = _powers(_BASE, size), _powers(_INVERSE, size)
        self.prefix = np.zeros(size, dtype=np.uint64)
        np.cumsum(codes * self.powers[:-1], dtype=np.uint64, out=self.prefix[1:])

    def of(self, starts, lengths):
        """The hashes of the stretches starting at ``starts`` with ``lengths`` (arrays)."""
        return (self.prefix[starts + lengths] - self.prefix[starts]) * self.inverse[starts]


class TextIndex:
    def __init__(self, text):
        self.text = text
        self._hashes = _Hashes(text)
        starts = np.arange(max(0, len(text) - WINDOW + 1))
        windows = self._hashes.of(starts, WINDOW)
        self._order = np.argsort(windows, kind="stable")
        self._sorted = windows[self._order]
        self._folded = None

    @property
    def folded(self):
        if self._folded is None:
            self._folded = FoldedText(self.text)
        return self._folded

    def find_all(self, phrases):
        """For each phrase, the sorted list of every position where it starts in the text
        (overlapping occurrences included)."""
        found = [None] * len(phrases)
        long = [i for i, p in enumerate(phrases) if len(p) >= WINDOW]
        for i in set(range(len(phrases))) - set(long):
            found[i] = _find_by_scanning(self.text, phrases[i])
        if long:
            for i, starts in zip(long, self._find_long([phrases[i] for i in long])):
                found[i] = starts
        return found

    def _find_long(self, phrases):
        lengths = np.fromiter(map(len, phrases), dtype=np.int64, count=len(phrases))
        offsets = np.zeros(len(phrases), dtype=np.int64)
        np.cumsum(lengths[:-1], out=offsets[1:])
        joined = _Hashes("".join(phrases))
        whole = joined.of(offsets, lengths)
        # Up to SAMPLED windows of each phrase, spread over it: their phrase, their place in the
        # phrase and their count in the text.
        per_phrase = np.minimum(lengths - WINDOW + 1, SAMPLED)
        owner = np.repeat(np.arange(len(phrases)), per_phrase)
        first = np.repeat(np.cumsum(per_phrase) - per_phrase, per_phrase)
        spread = (lengths - WINDOW)[owner] // np.maximum(per_phrase - 1, 1)[owner]
        inside = (np.arange(len(owner)) - first) * spread
        windows = joined.of(offsets[owner] + inside, WINDOW)
        low = np.searchsorted(self._sorted, windows, "left")
        counts = np.searchsorted(self._sorted, windows, "right") - low
        # The rarest window of each phrase: the first of its group once sorted by count.
        ranked = np.lexsort((counts, owner))
        rarest = ranked[np.cumsum(per_phrase) - per_phrase]
        low, counts, inside = low[rarest], counts[rarest], inside[rarest]
        # Every candidate start, then those whose whole-phrase hash agrees.
        candidate_owner = np.repeat(np.arange(len(phrases)), counts)
        within = np.arange(len(candidate_owner)) - np.repeat(np.cumsum(counts) - counts, counts)
        starts = self._order[low[candidate_owner] + within] - inside[candidate_owner]
        fits = (starts >= 0) & (starts + lengths[candidate_owner] <= len(self.text))
        starts, candidate_owner = starts[fits], candidate_owner[fits]
        agree = self._hashes.of(starts, lengths[candidate_owner]) == whole[candidate_owner]
        starts, candidate_owner = starts[agree], candidate_owner[agree]
        order = np.lexsort((starts, candidate_owner))
        starts, candidate_owner = starts[order], candidate_owner[order]
        bounds = np.searchsorted(candidate_owner, np.arange(len(phrases) + 1))
        text, listed = self.text, starts.tolist()
        return [[s for s in listed[bounds[i]:bounds[i + 1]] if text.startswith(phrase, s)]
                for i, phrase in enumerate(phrases)]


def _find_by_scanning(text, phrase):
    starts, at = [], text.find(phrase)
    while at >= 0:
        starts.append(at)
        at = text.find(phrase, at + 1)
    return starts


@functools.lru_cache(maxsize=65536)
def _folded_char(char):
    if char.isspace():
        return ""
    form = unicodedata.normalize("NFKC", char)
    if form.isspace() or not form.strip():
        return ""
    return form if len(form) == 1 else char


def fold(text):
    """The text with blanks removed and each character in its one-character NFKC form."""
    return text.translate({ord(c): _folded_char(c) for c in set(text)})


class FoldedText:
    """A text folded (see fold) with, for each folded position, its position in the text."""

    def __init__(self, text):
        self.text = text
        table = {ord(c): _folded_char(c) for c in set(text)}
        self.folded = text.translate(table)
        dropped = np.array([code for code, form in table.items() if form == ""], dtype=np.uint64)
        self.positions = np.flatnonzero(~np.isin(code_points(text), dropped))

    def find_all(self, phrase):
        """(start, end) in the text of every place whose folded form is the folded phrase."""
        folded = fold(phrase)
        if not folded:
            return []
        return [(int(self.positions[s]), int(self.positions[s + len(folded) - 1]) + 1)
                for s in _find_by_scanning(self.folded, folded)]

    def closest(self, phrase):
        """(start, end) of the text that agrees longest with the phrase's start or its end,
        or None when not even one character of it is there."""
        folded = fold(phrase)
        best = None
        for from_end in (False, True):
            low, high = 0, len(folded)
            while low < high:  # the longest head (or tail) of the phrase the text holds
                middle = (low + high + 1) // 2
                piece = folded[len(folded) - middle:] if from_end else folded[:middle]
                if piece in self.folded:
                    low = middle
                else:
                    high = middle - 1
            if low and (best is None or low > best[0]):
                piece = folded[len(folded) - low:] if from_end else folded[:low]
                at = self.folded.find(piece)
                first = max(0, at + low - len(folded)) if from_end else at
                last = min(len(self.folded), first + len(folded))
                best = (low, int(self.positions[first]), int(self.positions[last - 1]) + 1)
        return best and best[1:]
