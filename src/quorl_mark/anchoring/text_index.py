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
import unicodedata

import numpy as np

WINDOW = 6
# Windows of a phrase whose counts are compared to find its rarest.
SAMPLED = 4
_BASE = np.uint64(0x9E3779B97F4A7C15)
_INVERSE = np.uint64(pow(int(_BASE), -1, 1 << 64))


def code_points(text):
    return np.frombuffer(text.encode("utf-32-le", "surrogatepass"), dtype="<u4").astype(np.uint64)


_POWERS = {}


def _powers(base, count):
    """base**0 .. base**(count - 1) modulo 2**64, kept for the next, shorter, text."""
    known = _POWERS.get(int(base))
    if known is None or len(known) < count:
        powers = np.full(max(count, 1 << 16), base, dtype=np.uint64)
        powers[0] = 1
        known = _POWERS[int(base)] = np.cumprod(powers, dtype=np.uint64)
    return known[:count]


class _Hashes:
    """Prefix hashes of a string: the hash of any stretch in two array operations."""

    def __init__(self, text):
        self.codes = codes = code_points(text)
        size = len(codes) + 1
        self.powers, self.inverse = _powers(_BASE, size), _powers(_INVERSE, size)
        self.prefix = np.zeros(size, dtype=np.uint64)
        np.cumsum(codes * self.powers[:-1], dtype=np.uint64, out=self.prefix[1:])
        # Every three code points from each place packed in one number (0 past the end).
        padded = np.concatenate((codes, np.zeros(2, dtype=np.uint64)))
        self.triples = padded[:-2] | (padded[1:-1] << np.uint64(21)) | (padded[2:] << np.uint64(42))

    def of(self, starts, lengths):
        """The hashes of the stretches starting at ``starts`` with ``lengths`` (arrays)."""
        return (self.prefix[starts + lengths] - self.prefix[starts]) * self.inverse[starts]


class TextIndex:
    def __init__(self, text):
        self.text = text
        self._hashes = _Hashes(text)
        starts = np.arange(max(0, len(text) - WINDOW + 1))
        windows = self._hashes.of(starts, WINDOW)
        self._order = np.argsort(windows)
        # Each distinct window once, with where its places start in _order and how many.
        self._windows, self._first, self._counts = np.unique(
            windows[self._order], return_index=True, return_counts=True)
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
        if not len(self._windows):  # a text shorter than a window
            return [[] for _ in phrases]
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
        at = np.minimum(np.searchsorted(self._windows, windows), len(self._windows) - 1)
        there = self._windows[at] == windows
        low, counts = self._first[at], np.where(there, self._counts[at], 0)
        # The rarest window of each phrase: its counts laid in a row of SAMPLED, the missing
        # ones counted as the most there can be.
        heads = np.cumsum(per_phrase) - per_phrase
        table = np.full((len(phrases), SAMPLED), np.iinfo(np.int64).max, dtype=np.int64)
        table[owner, np.arange(len(owner)) - first] = counts
        rarest = heads + np.argmin(table, axis=1)
        low, counts, inside = low[rarest], counts[rarest], inside[rarest]
        # Every candidate start, then those whose whole-phrase hash agrees.
        candidate_owner = np.repeat(np.arange(len(phrases)), counts)
        within = np.arange(len(candidate_owner)) - np.repeat(np.cumsum(counts) - counts, counts)
        starts = self._order[low[candidate_owner] + within] - inside[candidate_owner]
        fits = (starts >= 0) & (starts + lengths[candidate_owner] <= len(self.text))
        starts, candidate_owner = starts[fits], candidate_owner[fits]
        agree = self._hashes.of(starts, lengths[candidate_owner]) == whole[candidate_owner]
        starts, candidate_owner = starts[agree], candidate_owner[agree]
        # Confirmed code point by code point, all at once, so that a hash collision never
        # passes: three code points (21 bits each) compared at a time, at 0, 3, 6, ... and
        # at the phrase's last three.
        steps = (lengths[candidate_owner] + 2) // 3
        if len(steps):
            heads = np.cumsum(steps) - steps
            step = 3 * (np.arange(int(steps.sum())) - np.repeat(heads, steps))
            step = np.minimum(step, np.repeat(lengths[candidate_owner] - 3, steps))
            same = (self._hashes.triples[np.repeat(starts, steps) + step]
                    == joined.triples[np.repeat(offsets[candidate_owner], steps) + step])
            equal = np.logical_and.reduceat(same, heads)
            starts, candidate_owner = starts[equal], candidate_owner[equal]
        # The candidates come grouped by phrase: one sort of (phrase, start) orders each group.
        keys = np.sort(candidate_owner * (len(self.text) + 1) + starts)
        listed = (keys % (len(self.text) + 1)).tolist()
        bounds = np.searchsorted(keys // (len(self.text) + 1),
                                 np.arange(len(phrases) + 1)).tolist()
        return [listed[bounds[i]:bounds[i + 1]] for i in range(len(phrases))]


def _find_by_scanning(text, phrase):
    starts, at = [], text.find(phrase)
    while at >= 0:
        starts.append(at)
        at = text.find(phrase, at + 1)
    return starts


# Code point -> its folded form, for every character folded so far; str.translate leaves the
# characters it does not hold as they are, so it is extended with each new text's characters.
_FOLDS, _SEEN = {}, set()


def _fold_table(text):
    new = set(text) - _SEEN
    for char in new:
        form = _folded_char(char)
        if form != char:
            _FOLDS[ord(char)] = form
    _SEEN.update(new)
    return _FOLDS


def _folded_char(char):
    if char.isspace():
        return ""
    form = unicodedata.normalize("NFKC", char)
    if form.isspace() or not form.strip():
        return ""
    return form if len(form) == 1 else char


def fold(text):
    """The text with blanks removed and each character in its one-character NFKC form."""
    return text.translate(_fold_table(text))


class FoldedText:
    """A text folded (see fold) with, for each folded position, its position in the text."""

    def __init__(self, text):
        self.text = text
        table = _fold_table(text)
        codes = code_points(text).astype(np.uint32)
        # Every fold is one character or none: done on the code points, in place.
        changed = np.array([c for c in table if table[c]], dtype=np.uint32)
        into = np.array([ord(table[c]) for c in changed.tolist()], dtype=np.uint32)
        dropped = np.array([c for c in table if not table[c]], dtype=np.uint32)
        if len(changed):
            order = np.argsort(changed)
            changed, into = changed[order], into[order]
            at = np.minimum(np.searchsorted(changed, codes), len(changed) - 1)
            hit = changed[at] == codes
            codes[hit] = into[at[hit]]
        kept = ~np.isin(codes, dropped) if len(dropped) else np.ones(len(codes), dtype=bool)
        self.positions = np.flatnonzero(kept)
        self.folded = codes[kept].astype("<u4").tobytes().decode("utf-32-le")
        self._index = self._positions = None

    def find_all(self, phrases):
        """For each phrase, (start, end) in the text of every place whose folded form is the
        folded phrase."""
        if self._index is None:
            self._index = TextIndex(self.folded)
        joined = "\0".join(phrases)  # folded in one call; NUL folds to itself
        folded = fold(joined).split("\0") if joined.count("\0") == len(phrases) - 1 else [
            fold(p) for p in phrases]
        if self._positions is None:
            self._positions = self.positions.tolist()
        positions, found = self._positions, []
        for phrase, starts in zip(folded, self._index.find_all([f or "\0" for f in folded])):
            found.append([(positions[s], positions[s + len(phrase) - 1] + 1) for s in starts]
                          if phrase else [])
        return found

    def closest(self, phrase):
        """(start, end) of the text that agrees longest with the phrase's start or its end,
        or None when no stretch of a third of it (and at least two characters) is there."""
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
            if low >= max(2, len(folded) // 3) and (best is None or low > best[0]):
                piece = folded[len(folded) - low:] if from_end else folded[:low]
                at = self.folded.find(piece)
                first = max(0, at + low - len(folded)) if from_end else at
                last = min(len(self.folded), first + len(folded))
                best = (low, int(self.positions[first]), int(self.positions[last - 1]) + 1)
        return best and best[1:]
