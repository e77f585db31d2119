"""Marks for reading annotations back: marks of every type spread over a patent's abstract,
claims and description (some across page breaks), what their annotations can give back, and
whether a span lies where the HTML and the PDF texts agree."""
import bisect
import random

KINDS = ("par", "cth", "equal", "imgpar", "imgig", "flag")
SECTIONS = ("cn-bibliographic-info", "claims", "description")
# The kinds whose marks come back from a label alone: only the first line's text is there.
ONE_LINE_KINDS = ("imgpar", "imgig")
# A flag in the first page's left column stands level with a line of the right column as well,
# and comes back anchored to the right one; flags are placed in the later sections.
FLAG_SECTIONS = ("claims", "description")


def _pdflines(converter, start, end):
    try:
        return converter.convert_mark_html2pdf({"start": start, "end": end})["pdflines"]
    except (IndexError, AssertionError):
        return []


def _page_of_line(converter, line):
    return converter.pdfdoc.lines[line]["page"]


def _mark(index, kind, start, end):
    title = "%d-%d" % (index + 1, index + 2) if index % 10 == 3 else str(index + 1)
    mark = {"start": start, "end": end, "type": kind, "title": title,
            "content": "mark %d" % (index + 1)}
    if kind == "equal":
        mark["info"] = "EQUAL"
    return mark


def page_break_spans(converter, limit):
    """HTML spans of paragraphs or claims whose text runs from one page onto the next."""
    spans = []
    for element_id, record in sorted(converter.htmldoc.infodict.items(),
                                     key=lambda item: item[1]["start"]):
        if element_id[:2] not in ("cl", "p0") or record["end"] - record["start"] < 8:
            continue
        lines = _pdflines(converter, record["start"] + 2, record["end"] - 2)
        if lines and _page_of_line(converter, lines[0][0]) != \
                _page_of_line(converter, lines[-1][0]):
            spans.append((record["start"] + 2, record["end"] - 2))
        if len(spans) == limit:
            break
    return spans


def spread_marks(converter, count, seed=0):
    """``count`` marks cycling through KINDS, over random places of the abstract, claims and
    description (flags of the claims and description), every one convertible to PDF lines; a
    tenth of the highlighting ones run across a page break, and imgpar and imgig marks stay
    within one PDF line."""
    rng = random.Random(seed)
    info = converter.htmldoc.infodict
    sections = [(info[s]["start"], info[s]["end"]) for s in SECTIONS if info.get(s)]
    flag_sections = [(info[s]["start"], info[s]["end"]) for s in FLAG_SECTIONS if info.get(s)]
    breaks = page_break_spans(converter, max(1, count // 10))
    marks = []
    while len(marks) < count:
        index = len(marks)
        kind = KINDS[index % len(KINDS)]
        if kind in ("par", "cth", "equal") and breaks and index % 10 == 0:
            start, end = breaks[(index // 10) % len(breaks)]
            marks.append(_mark(index, kind, start, end))
            continue
        first, last = rng.choice(flag_sections if kind == "flag" else sections)
        length = rng.choice((3, 8, 20)) if kind in ONE_LINE_KINDS + ("flag",) \
            else rng.choice((2, 6, 15, 40, 90, 160))
        start = rng.randrange(first, max(first + 1, last - length))
        end = min(last, start + length)
        lines = _pdflines(converter, start, end)
        if not lines or (kind in ONE_LINE_KINDS and len(lines) > 1) or \
                any(b <= a for _, (a, b) in lines[:1] + lines[-1:]):
            continue
        marks.append(_mark(index, kind, start, end))
    return marks


def agrees(difflist, start, end):
    """Whether every character of the HTML span [start, end) is aligned, the aligned stretches
    following one another without a gap on either side."""
    pairs = sorted(difflist)
    starts = [a[0] for a, _ in pairs]
    i = bisect.bisect_right(starts, start) - 1
    if i < 0 or not pairs[i][0][0] <= start < pairs[i][0][1]:
        return False
    while pairs[i][0][1] < end:
        if i + 1 == len(pairs):
            return False
        (a1, a2), (b1, b2) = pairs[i]
        (c1, _), (d1, _) = pairs[i + 1]
        if c1 != a2 or d1 != b2:
            return False
        i += 1
    return True


def expected_fields(mark):
    """type, title, content and info a mark's annotations carry back."""
    kind = mark["type"]
    if kind == "equal":
        return {"type": "equal", "title": mark["title"], "content": mark["content"],
                "info": "EQUAL"}
    if kind == "par":
        return {"type": "par", "title": mark["title"], "content": mark["content"]}
    if kind == "imgpar":
        return {"type": "imgpar", "title": mark["title"], "content": ""}
    return {"type": kind, "title": "", "content": mark["content"]}


def find_record(records, mark):
    """The record that gives ``mark`` back: for a flag the note with its content whose line
    holds the mark's start, for the others the record of its span and fields."""
    wanted = expected_fields(mark)
    for record in records:
        if any(record.get(k) != v for k, v in wanted.items()):
            continue
        if mark["type"] == "flag":
            if record["start"] is not None and record["start"] <= mark["start"] < record["end"]:
                return record
        elif (record["start"], record["end"]) == (mark["start"], mark["end"]):
            return record
    return None
