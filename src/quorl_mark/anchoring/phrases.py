"""Mark records given by their text, and W3C annotations, turned into spans of the document text.

A record with "text" is looked up in the document text: exact code points first, then (with a
warning showing what was matched) the same text up to blanks and full-/half-width forms. Among
several occurrences "section", "prefix"/"suffix" and "occurrence" choose, "all" takes every
one; otherwise the record is refused with the occurrences listed. An annotation (see
web_annotations) is anchored as web annotation clients anchor: its position in the browser's
text when the text there is its quote, else its quote by its context.
"""
import bisect
import os

from .dom_text import TextMap, body_text
from .text_index import TextIndex

# Characters shown on either side of an occurrence in messages and in quorl-text --find.
AROUND = 10


class Unanchored(Exception):
    """Why a record has no place in the document text."""


def strip_newlines(text):
    return text.replace("\r", "").replace("\n", "")


def _shortened(text, limit=24):
    return text if len(text) <= limit else text[:limit - 6] + "…" + text[-5:]


def _common_length(a, b):
    """How many characters a and b share from their start."""
    return len(os.path.commonprefix([a, b]))


class DocumentText:
    """The document text of one patent with its sections, its phrase index and, when an
    annotation needs it, its map to the browser's text."""

    def __init__(self, text, sections, html=None):
        self.text = text
        self.sections = sorted(sections, key=lambda s: s[1])
        self._section_starts = [start for _, start, _ in self.sections]
        self.index = TextIndex(text)
        self.html = html
        self._map = None

    @property
    def browser(self):
        """The TextMap between this text and the browser's text of the HTML."""
        if self._map is None:
            self._map = TextMap(self.text, body_text(self.html or ""))
        return self._map

    def section_of(self, at):
        i = bisect.bisect_right(self._section_starts, at) - 1
        if i >= 0 and at < self.sections[i][2]:
            return self.sections[i][0]
        return None

    def section_span(self, name):
        for section, start, end in self.sections:
            if section == name:
                return start, end
        return None

    def around(self, start, end):
        """The occurrence with AROUND characters either side, the occurrence in brackets."""
        text = self.text
        return "%s[%s]%s" % (text[max(0, start - AROUND):start], _shortened(text[start:end]),
                             text[end:end + AROUND])

    def describe(self, start, end):
        return "%s %d %s" % (self.section_of(start) or "outside the sections", start,
                             self.around(start, end))

    def occurrences(self, phrases):
        """For each phrase: (its starts, True), or, when it is not in the text as given,
        ([(start, end)] of the places whose folded form is its folded form, False) (see
        text_index)."""
        return self.index.occurrences(phrases)

    @staticmethod
    def spans(phrase, found):
        """One of occurrences' results as ([(start, end)], exact)."""
        starts, exact = found
        return ([(s, s + len(phrase)) for s in starts] if exact else starts), exact

    def not_found(self, phrase):
        closest = self.index.closest(phrase)
        if closest is None:
            return "the text %r is not in the document text" % _shortened(phrase, 40)
        return ("the text %r is not in the document text; the closest text found is %r at %s"
                % (_shortened(phrase, 40), self.text[closest[0]:closest[1]],
                   self.describe(*closest)))


def folded_note(phrase, shown):
    """The note on a record whose text was found only folded, as the texts ``shown``."""
    return ("its text %r is not in the document text as given; matched %s, which differs only "
            "in blanks or full-/half-width forms"
            % (_shortened(phrase, 40), ", ".join(repr(_shortened(t, 40)) for t in shown)))


def context_note(several):
    """The note on a record whose prefix and suffix agree wholly with no occurrence."""
    return ("its prefix and suffix agree with no occurrence's surroundings; kept the "
            "occurrence%s whose surroundings agree most" % ("s" if several else ""))


def _context_score(doc, span, prefix, suffix):
    start, end = span
    before = doc.text[max(0, start - len(prefix)):start]
    after = doc.text[end:end + len(suffix)]
    return (_common_length(before[::-1], prefix[::-1]) + _common_length(after, suffix),
            prefix.endswith(before) and suffix.startswith(after))


RECORD_CHOICES = ("choose one with \"occurrence\": N (from 1), \"section\", \"prefix\"/"
                  "\"suffix\", or mark every one with \"all\": true")
ANNOTATION_CHOICES = ("give its TextQuoteSelector a \"prefix\" or \"suffix\" (the text just "
                      "before or after the quote), or add a TextPositionSelector")


def choose(doc, spans, exact, record, hint=None, choices=RECORD_CHOICES):
    """The spans a record marks among ``spans`` (the occurrences of its text) and the
    warnings to give; raises Unanchored. ``hint``, a place in the document text, chooses the
    nearest of several occurrences nothing else chooses; ``choices`` says how the record's
    author may choose one where nothing does."""
    phrase = strip_newlines(record["text"])
    if not spans:
        raise Unanchored(doc.not_found(phrase))
    notes = []
    if not exact:
        notes.append(folded_note(phrase, sorted({doc.text[s:e] for s, e in spans})))
    section = record.get("section")
    if section is not None:
        bounds = doc.section_span(section)
        if bounds is None:
            raise Unanchored("the document has no section %r (it has %s)"
                             % (section, ", ".join(s for s, _, _ in doc.sections)))
        inside = [s for s in spans if bounds[0] <= s[0] and s[1] <= bounds[1]]
        if not inside:
            raise Unanchored("its text is not in the section %r; it is at %s"
                             % (section, "; ".join(doc.describe(*s) for s in spans[:5])))
        spans = inside
    prefix = strip_newlines(record.get("prefix") or "")
    suffix = strip_newlines(record.get("suffix") or "")
    if prefix or suffix:
        scored = [(_context_score(doc, s, prefix, suffix), s) for s in spans]
        agreeing = [s for (_, whole), s in scored if whole]
        if agreeing:
            spans = agreeing
        else:
            best = max(score for (score, _), _ in scored)
            spans = [s for (score, _), s in scored if score == best]
            notes.append(context_note(len(spans) > 1))
    if record.get("all"):
        return spans, notes
    occurrence = record.get("occurrence")
    if occurrence is not None:
        if occurrence > len(spans):
            raise Unanchored("occurrence %d asked, but its text occurs %d time%s%s: %s"
                             % (occurrence, len(spans), "" if len(spans) == 1 else "s",
                                " there" if section or prefix or suffix else "",
                                "; ".join(doc.describe(*s) for s in spans[:10])))
        return [spans[occurrence - 1]], notes
    if len(spans) == 1:
        return spans, notes
    if hint is not None:
        nearest = min(spans, key=lambda s: abs(s[0] - hint))
        notes.append("its quote occurs %d times; took the one nearest its position, at %s"
                     % (len(spans), doc.describe(*nearest)))
        return [nearest], notes
    shown = "; ".join(doc.describe(*s) for s in spans[:10])
    more = " and %d more" % (len(spans) - 10) if len(spans) > 10 else ""
    per_section = {}
    for start, _ in spans:
        section = doc.section_of(start) or "outside the sections"
        per_section[section] = per_section.get(section, 0) + 1
    raise Unanchored("its text occurs %d times, %s (%s%s); %s"
                     % (len(spans), ", ".join("%d in %s" % (n, section)
                                              for section, n in per_section.items()),
                        shown, more, choices))


def anchor_target(doc, target, spans, exact):
    """The span of the document text an annotation's target selects, and its notes; ``spans``
    and ``exact`` are the occurrences of its quote. Raises Unanchored."""
    quote = target.get("exact")
    own = target.get("quorl")
    if own and (quote is None or doc.text[own[0]:own[1]] == strip_newlines(quote)):
        return [tuple(own)], []
    position = target.get("position")
    hint = None
    if position is not None:
        start, end = position
        browser = doc.browser.browser
        if end <= len(browser) and (quote is None or browser[start:end] == quote):
            span = doc.browser.span(start, end, "browser")
            if span is None:
                raise Unanchored("its position %d-%d in the page's text holds no text of the "
                                 "document" % (start, end))
            return [span], []
        hint = doc.browser.position(min(start, len(browser)))
    if quote is None:
        raise Unanchored("its position %d-%d is beyond the page's text, which has %d "
                         "characters, and it has no quote"
                         % (position[0], position[1], len(doc.browser.browser)))
    record = {"text": quote, "prefix": target.get("prefix"), "suffix": target.get("suffix")}
    return choose(doc, spans, exact, record, hint, ANNOTATION_CHOICES)
