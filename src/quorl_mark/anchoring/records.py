"""Mark records placed in the document text: those given by offsets stay as they are, those
given by their text and those read from W3C annotations get the start and end they select.

The index places the plain records (a dict whose fields are what a checked marks file holds)
itself; the others, and every record it cannot place as asked, are placed here by choose and
anchor_target, which word why a record has no place."""
from ..errors import JobError
from ..inputs import describe
from .phrases import (DocumentText, Unanchored, anchor_target, choose, context_note, folded_note,
                      strip_newlines)


def _name(index, mark):
    return getattr(mark, "name", "") or describe(index, mark)


def anchor_marks(marks, text, sections, html, marks_name="MARKS.json", skip_unplaced=None):
    """The marks with every one given by text or annotation placed: (marks, warnings). A mark
    that cannot be placed raises a JobError naming it, unless ``skip_unplaced`` is a list: then
    it keeps no start and end, gets empty "pdflines" and "rects" and a "reason", and a warning
    naming it is appended to the list. ``sections`` are (id, start, end) of the document text;
    ``html`` is the HTML source, whose browser text annotation positions count. A record read
    from an annotation is an AnnotationMark, no plain dict."""
    marks = marks if isinstance(marks, list) else list(marks)
    doc = DocumentText(text, sections, html)
    placed, deferred, notes = doc.index.place(marks, doc.sections)
    if placed is marks:  # no record given by its text
        return marks, []
    noted = []
    for index, matched, several in notes:
        name = "%s: %s: " % (marks_name, _name(index, marks[index]))
        if matched is not None:
            noted.append((index, name + folded_note(strip_newlines(marks[index]["text"]),
                                                    matched)))
        if several is not None:
            noted.append((index, name + context_note(several)))
    if deferred:
        replacements = _place(doc, marks, [i for _, i in deferred], marks_name, skip_unplaced,
                              noted)
        out, last = [], 0
        for (slot, _), records in zip(deferred, replacements):
            out += placed[last:slot]
            out += records
            last = slot + 1
        placed = out + placed[last:]
        noted.sort(key=lambda n: n[0])
    return placed, [note for _, note in noted]


def _place(doc, marks, indexes, marks_name, skip_unplaced, noted):
    """The records each of marks[indexes] becomes, placed by choose or anchor_target; their
    notes are appended to ``noted`` as (index, warning)."""
    quotes = {}
    for index in indexes:
        mark = marks[index]
        quote = mark["text"] if type(mark) is dict else (mark.target or {}).get("exact")
        if quote:
            quotes[index] = strip_newlines(quote)
    looked_up = dict(zip(quotes, doc.occurrences(list(quotes.values()))))
    placed = []
    for index in indexes:
        mark = marks[index]
        try:
            spans, exact = doc.spans(quotes.get(index, ""), looked_up.get(index, ([], True)))
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
            placed.append([record])
            skip_unplaced.append("%s: %s; left out" % (marks_name, message))
            continue
        noted += [(index, "%s: %s: %s" % (marks_name, _name(index, mark), note))
                  for note in notes]
        records = []
        for start, end in spans:
            record = dict(mark)
            record.update(start=start, end=end)
            records.append(record)
        placed.append(records)
    return placed
