"""Every occurrence of many phrases in one text, found through one index of the text, and the
places that differ from a phrase only in blanks and full-/half-width forms.

The index and the lookups are quorl's (C++, quorl._phrase_index): the starts of every three characters
of the text, sorted, so that a phrase's candidates are the places of its rarest window, each
confirmed character by character (no hash can give a wrong place). Folding is decided here, per
character, with unicodedata: blanks go, and a character whose compatibility form (NFKC) is one
character becomes it (full-width letters, digits and punctuation become half-width). The index
asks for the fold of each character of the text and of the phrases it has not met yet, and keeps
the folded text with the way back to the text's positions.
"""
import functools
import unicodedata

import quorl


@functools.lru_cache(maxsize=None)
def folded_char(char):
    """The folded form of one character: "" for a blank, else one character."""
    if char.isspace():
        return ""
    form = unicodedata.normalize("NFKC", char)
    if form.isspace() or not form.strip():
        return ""
    return form if len(form) == 1 else char


def fold_characters(chars):
    return [folded_char(c) for c in chars]


def fold(text):
    """The text with blanks removed and each character in its one-character NFKC form."""
    return "".join(map(folded_char, text))


class TextIndex:
    """The phrase index of one text (built on its first lookup)."""

    def __init__(self, text):
        self.text = text
        self._index = quorl._phrase_index(text)

    def occurrences(self, phrases):
        """For each phrase: (its starts, True), or, when it is not in the text as given,
        ([(start, end)] of the places whose folded form is its folded form, False)."""
        return quorl._phrase_occurrences(self._index, phrases, fold_characters)

    def place(self, marks, sections):
        """(placed, deferred, notes) of the phrase records of ``marks`` (a list); see
        quorl._place_phrases."""
        return quorl._place_phrases(self._index, marks, sections, fold_characters)

    def closest(self, phrase):
        """(start, end) of the text that agrees longest with the phrase's start or its end,
        folded, or None when no stretch of a third of it (and at least two characters) is
        there."""
        text, positions = quorl._phrase_folded(self._index, fold_characters)
        folded = fold(phrase)
        best = None
        for from_end in (False, True):
            low, high = 0, len(folded)
            while low < high:  # the longest head (or tail) of the phrase the text holds
                middle = (low + high + 1) // 2
                piece = folded[len(folded) - middle:] if from_end else folded[:middle]
                if piece in text:
                    low = middle
                else:
                    high = middle - 1
            if low >= max(2, len(folded) // 3) and (best is None or low > best[0]):
                piece = folded[len(folded) - low:] if from_end else folded[:low]
                at = text.find(piece)
                first = max(0, at + low - len(folded)) if from_end else at
                last = min(len(text), first + len(folded))
                best = (low, positions[first], positions[last - 1] + 1)
        return best and best[1:]
