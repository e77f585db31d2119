"""Mark records placed in the document text: those given by offsets stay as they are, those
given by their text and those read from W3C annotations get the start and end they select."""
from ..errors import JobError
from ..inputs import describe
from .phrases import DocumentText, Unanchored, anchor_target, choose


def needs_anchoring(mark):
    return getattr(mark, "target", None) is not None or getattr(mark, "reason", None) is not None \
        or ("text" in mark and "start" not in mark)


def anchor_marks(marks, text, sections, html, marks_name="MARKS.json", skip_unplaced=None):
    """The marks with every one given by text or annotation placed: (marks, warnings). A mark
    that cannot be placed raises a JobError naming it, unless ``skip_unplaced`` is a list: then
    it keeps no start and end, gets empty "pdflines" and "rects" and a "reason", and a warning
    naming it is appended to the list. ``sections`` are (id, start, end) of the document text;
    ``html`` is the HTML source, whose browser text annotation positions count."""
    pending = [i for i, mark in enumerate(marks) if needs_anchoring(mark)]
    if not pending:
        return marks, []
    doc = DocumentText(text, sections, html)
    quotes = {}
    for i in pending:
        target = getattr(marks[i], "target", None)
        quote = (target or {}).get("exact") if target is not None else marks[i].get("text")
        if quote:
            quotes[i] = quote.replace("\r", "").replace("\n", "")
    looked_up = dict(zip(quotes, doc.occurrences(list(quotes.values()))))
    placed, warnings = [], []
    for index, mark in enumerate(marks):
        if index not in pending:
            placed.append(mark)
            continue
        name = getattr(mark, "name", "") or describe(index, mark)
        spans, exact = looked_up.get(index, ([], True))
        try:
            if getattr(mark, "target", None) is not None:
                spans, notes = anchor_target(doc, mark.target, spans, exact)
            elif getattr(mark, "reason", None) is not None:
                raise Unanchored(mark.reason)
            else:
                spans, notes = choose(doc, spans, exact, mark)
        except Unanchored as e:
            message = "%s cannot be placed: %s" % (name, e)
            if skip_unplaced is None:
                raise JobError(marks_name, "place", message) from None
            record = dict(mark)
            record.update(pdflines=[], rects=[], reason=str(e))
            placed.append(record)
            skip_unplaced.append("%s: %s; left out" % (marks_name, message))
            continue
        warnings += ["%s: %s: %s" % (marks_name, name, note) for note in notes]
        for start, end in spans:
            record = dict(mark)
            record.update(start=start, end=end)
            placed.append(record)
    return placed, warnings
