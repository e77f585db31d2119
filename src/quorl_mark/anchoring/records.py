"""Mark records placed in the document text: those given by offsets stay as they are, those
given by their text and those read from W3C annotations get the start and end they select."""
from ..errors import JobError
from ..inputs import describe
from .phrases import DocumentText, Unanchored, anchor_target, choose


def _name(index, mark):
    return getattr(mark, "name", "") or describe(index, mark)


def anchor_marks(marks, text, sections, html, marks_name="MARKS.json", skip_unplaced=None):
    """The marks with every one given by text or annotation placed: (marks, warnings). A mark
    that cannot be placed raises a JobError naming it, unless ``skip_unplaced`` is a list: then
    it keeps no start and end, gets empty "pdflines" and "rects" and a "reason", and a warning
    naming it is appended to the list. ``sections`` are (id, start, end) of the document text;
    ``html`` is the HTML source, whose browser text annotation positions count. A record read
    from an annotation is an AnnotationMark, no plain dict."""
    pending, quotes = set(), {}
    for i, mark in enumerate(marks):
        if type(mark) is dict:
            if "text" not in mark or "start" in mark:
                continue
            quote = mark["text"]
        else:
            quote = (mark.target or {}).get("exact")
        pending.add(i)
        if quote:
            quotes[i] = quote.replace("\r", "").replace("\n", "") if (
                "\n" in quote or "\r" in quote) else quote
    if not pending:
        return marks, []
    doc = DocumentText(text, sections, html)
    looked_up = dict(zip(quotes, doc.occurrences(list(quotes.values()))))
    placed, warnings = [], []
    for index, mark in enumerate(marks):
        if index not in pending:
            placed.append(mark)
            continue
        found = looked_up.get(index, ([], True))
        starts, exact = found
        # The common case, without building the occurrences' spans: a plain record whose text
        # occurs once, or whose occurrence is there.
        if exact and type(mark) is dict and _CHOOSING.isdisjoint(mark):
            occurrence = mark.get("occurrence")
            if (len(starts) == 1 and occurrence is None) or (
                    occurrence is not None and occurrence <= len(starts)):
                start = starts[0 if occurrence is None else occurrence - 1]
                record = dict(mark)
                record["start"], record["end"] = start, start + len(quotes[index])
                placed.append(record)
                continue
        try:
            spans, exact = doc.spans(quotes.get(index, ""), found)
            if getattr(mark, "target", None) is not None:
                spans, notes = anchor_target(doc, mark.target, spans, exact)
            elif getattr(mark, "reason", None) is not None:
                raise Unanchored(mark.reason)
            else:
                spans, notes = choose(doc, spans, exact, mark)
        except Unanchored as e:
            message = "%s cannot be placed: %s" % (_name(index, mark), e)
            if skip_unplaced is None:
                raise JobError(marks_name, "place", message) from None
            record = dict(mark)
            record.update(pdflines=[], rects=[], reason=str(e))
            placed.append(record)
            skip_unplaced.append("%s: %s; left out" % (marks_name, message))
            continue
        warnings += ["%s: %s: %s" % (marks_name, _name(index, mark), note) for note in notes]
        for start, end in spans:
            record = dict(mark)
            record.update(start=start, end=end)
            placed.append(record)
    return placed, warnings


# The keys of a phrase record that make its choice more than "the only one" or "the Nth".
_CHOOSING = frozenset(("prefix", "suffix", "section", "all"))
