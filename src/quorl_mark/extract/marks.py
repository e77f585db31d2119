"""Marks read back from an annotated PDF: the annotations on a patent's PDF become mark records
against the patent's HTML document text, in the form quorl-mark reads them.

Every annotation comes back as a record. Text markup (highlight, underline, squiggly, strike-out)
gives one record per contiguous stretch of the PDF text it covers, a character being covered when
the centre of its box lies inside one of the annotation's quadrilaterals; the stretch is mapped to
the HTML text through the converter's alignment. quorl's own highlights and labels come back as
the marks they were drawn from, notes and flags anchored to a text line, and anything that marks
no text, or only text the HTML lacks, with a ``reason`` and no span.
"""
from collections import defaultdict
from typing import List

from .annotations import GEOMETRY_TOLERANCE, near, read_annotations
from ..errors import JobError, one_line
from ..inputs import open_pdf
from .pdf_text import Alignment, PdfText
from ..vocabulary import (CLAIMS_FLAG_TEXT, DUPLICATE_PREFIX, DUPLICATE_SUBJECT, EQUAL_INFO,
                         IMAGE_LABEL_SUBJECT, NOTE_KINDS, NUMBER_SUBJECTS, PDF_TEXT_HIDDEN,
                         TEXT_MARKUP_KINDS)

# Points two renderings of one publication may differ by in a glyph's box.
GLYPH_TOLERANCE = 0.5


def check_same_page(quorl, text, page, pdf_name):
    """Refuses a page that does not show the converter's text where the converter read it."""
    lines, _ = text.lines_of(page.number)
    if not lines:
        return
    missing = quorl._glyphs_not_on_page(lines, page.get_text("rawdict"), GLYPH_TOLERANCE)
    if missing:
        shown = sum(len(line["chars"]) for line in lines)
        raise JobError(pdf_name, "match", "not the publication the converter was built from: "
                       "page %d shows other text (%d of its %d characters are not where the "
                       "converter's PDF has them)" % (page.number + 1, missing, shown))


def select_text(quorl, text, page, annotations):
    """Fills in the stretches each annotation of one page covers: text markup by its quads,
    quorl's labels by their box or, for a label over a figure, by the characters under its
    centre."""
    markup = [a for a in annotations if a.quads]
    labels = [a for a in annotations if a.is_quorl_label and a.placed]
    if not markup and not labels:
        return
    lines, offsets = text.lines_of(page)
    groups = [a.quads for a in markup] + [[a.rect_quad()] for a in labels]
    fallbacks = [None] * len(markup) + [a.centre() for a in labels]
    selected = quorl._text_under_quads(lines, offsets, groups, fallbacks, PDF_TEXT_HIDDEN)
    for annotation, stretches in zip(markup + labels, selected):
        annotation.stretches = stretches


def _covering(stretches):
    return (stretches[0][0], stretches[-1][1]) if stretches else None


class RecordMaker:
    """Mark records of PDF stretches: the HTML span, both texts and whether they agree."""

    def __init__(self, text, alignment, html_text):
        self.text = text
        self.alignment = alignment
        self.html_text = html_text

    def make(self, stretch, annotation, *, source, mark_type="cth", title="", content=None,
             info=None, note=False, reason=None):
        span = None
        pdf_text = ""
        if stretch is not None:
            pdf_text = self.text.text[stretch[0]:stretch[1]]
            span = self.alignment.html_span(*stretch)
            if span is None and reason is None:
                reason = ("the line it stands by has no counterpart in the HTML" if note else
                          "it covers only text without a counterpart in the HTML")
        elif reason is None:
            reason = "it covers no text"
        html_text = self.html_text[span[0]:span[1]] if span else ""
        record = {"start": span[0] if span else None, "end": span[1] if span else None,
                  "type": mark_type, "title": title,
                  "content": annotation.content if content is None else content}
        if info:
            record["info"] = info
        record.update({
            "source": source, "annotation": annotation.kind, "page": annotation.page,
            "color": annotation.hex_color, "author": annotation.author, "pdf_text": pdf_text,
            "html_text": html_text, "exact": bool(span) and pdf_text == html_text})
        if note:
            record["note"] = True
        if reason is not None:
            record["reason"] = reason
        return record

    def line_by(self, page, point):
        """The stretch of the text line of ``page`` nearest to ``point`` (vertically first,
        then horizontally) that has a counterpart in the HTML; failing that, the nearest line
        at all; None on a page without lines."""
        text, x, y = self.text, point[0], point[1]

        def distance(index):
            x0, top, x1, bottom = text.records[index]["bbox"]
            return (max(top - y, y - bottom, 0.0), max(x0 - x, x - x1, 0.0))

        candidates = sorted(text.page_lines.get(page, []), key=distance)
        for index in candidates:
            stretch = text.line_stretch(index)
            if stretch[1] > stretch[0] and self.alignment.html_span(*stretch):
                return stretch
        return text.line_stretch(candidates[0]) if candidates else None

    def note(self, annotation, point, **fields):
        """A note anchored to the line nearest to ``point``."""
        if not annotation.placed:
            return self.make(None, annotation, note=True, reason=annotation.misplaced,
                             **fields)
        stretch = self.line_by(annotation.page, point)
        return self.make(stretch, annotation, note=True, reason=None if stretch else
                         "there is no text line on its page to anchor it to", **fields)


def _label_fields(label):
    """type, title and info of the mark a number or figure label was drawn for."""
    if label.subject == IMAGE_LABEL_SUBJECT:
        return "imgig", "", None
    if label.subject == DUPLICATE_SUBJECT:
        title = label.content[len(DUPLICATE_PREFIX):] \
            if label.content.startswith(DUPLICATE_PREFIX) else label.content
        return "equal", title, EQUAL_INFO
    return "par", label.content, None


def attach_labels(highlights, labels):
    """id(highlight) -> the number label standing on it: the label's bottom edge on the
    highlight's top edge, centred on it, on the same page. The highlight drawn just before the
    label is preferred."""
    on_page = defaultdict(list)
    for h in highlights:
        on_page[h.page].append((h, h.quad_bounds()))
    attached = {}
    for label in labels:
        if label.subject not in NUMBER_SUBJECTS:
            continue
        x0, _, x1, y1 = label.rect
        candidates = [h for h, (hx0, hy0, hx1, _) in on_page[label.page]
                      if id(h) not in attached and near(y1, hy0)
                      and near((x0 + x1) / 2, (hx0 + hx1) / 2)]
        if candidates:
            best = min(candidates, key=lambda h: abs(label.order - 1 - h.order))
            attached[id(best)] = label
    return attached


def quorl_records(maker, highlights, labels):
    """quorl's highlights and labels as the marks they were drawn from. A mark's highlights,
    one per line and on as many pages as it runs over, join when each begins where the one
    before ends and they carry the same content and colour; a number label starts a mark."""
    label_of = attach_labels(highlights, labels)
    attached = {id(label) for label in label_of.values()}
    records = []
    groups: List[dict] = []
    open_ends = {}  # (end, content, colour) -> group
    placed = sorted((h for h in highlights if h.stretches), key=lambda h: h.stretches[0])
    for h in placed:
        start, end = _covering(h.stretches)
        key = (start, h.content, h.color)
        label = label_of.get(id(h))
        group = open_ends.pop(key, None) if label is None else None
        if group is None:
            group = {"first": h, "label": label, "start": start, "end": end}
            groups.append(group)
        group["end"] = end
        open_ends[(end, h.content, h.color)] = group
    for group in groups:
        label = group["label"]
        mark_type, title, info = _label_fields(label) if label else ("cth", "", None)
        records.append(maker.make((group["start"], group["end"]), group["first"],
                                  source="quorl", mark_type=mark_type, title=title, info=info))
    for h in highlights:
        if not h.stretches:
            records.append(maker.make(None, h, source="quorl"))
    for label in labels:
        if id(label) in attached:
            continue
        mark_type, title, info = _label_fields(label)
        mark_type = {"par": "imgpar", "equal": "imgpar"}.get(mark_type, mark_type)
        content = label.content if mark_type == "imgig" else ""
        records.append(maker.make(_covering(label.stretches), label, source="quorl",
                                  mark_type=mark_type, title=title, content=content,
                                  info=info, reason=label.misplaced))
    return records


def flag_records(maker, flags, claims_flags):
    """Flags as notes anchored to the line they stand level with. The "Claims" flag that every
    flag mark draws on the second page belongs to its mark; one left over comes back with a
    reason."""
    records = [maker.note(flag, (flag.rect[0], flag.rect[1] + GEOMETRY_TOLERANCE),
                          source="quorl", mark_type="flag") for flag in flags]
    for flag in claims_flags[len(flags):]:
        records.append(maker.make(None, flag, source="quorl", mark_type="flag", note=True,
                                  reason="the \"%s\" flag of a flag mark whose own flag is not "
                                  "there" % CLAIMS_FLAG_TEXT))
    return records


def reader_records(maker, annotation):
    """A reader's annotation: one record per stretch of text it marks, or a note anchored to
    the nearest line, or a record with the reason it marks nothing."""
    if annotation.kind in TEXT_MARKUP_KINDS:
        if not annotation.stretches:
            return [maker.make(None, annotation, source="reader", reason=annotation.misplaced)]
        return [maker.make(stretch, annotation, source="reader")
                for stretch in annotation.stretches]
    if annotation.kind in NOTE_KINDS:
        return [maker.note(annotation, annotation.centre(), source="reader")]
    return [maker.make(None, annotation, source="reader",
                       reason="a %s annotation marks no text" % annotation.kind)]


def _order(record):
    """Records in reading order: by page, then by where their text begins."""
    return (record["page"], record["start"] is None,
            record["start"] if record["start"] is not None else 0)


def pdf_without_annotations(pdf_bytes, pdf_name="ANNOTATED.pdf"):
    """The PDF's bytes with every annotation taken off its pages. Text extraction reads the
    text that free-text annotations show, so a converter is built from these."""
    import quorl

    doc = open_pdf(quorl.fitz, pdf_bytes, pdf_name)
    try:
        for page in doc:
            doc.xref_set_key(page.xref, "Annots", "null")
        return doc.tobytes()
    except Exception as e:
        raise JobError(pdf_name, "pdf", "the PDF is damaged: it cannot be written again "
                       "without its annotations (%s)" % one_line(e)) from None
    finally:
        doc.close()


def pdf_annotations_to_marks(converter, annotated_pdf, *, pdf_name="ANNOTATED.pdf"):
    """The annotations of ``annotated_pdf`` (the bytes of a PDF of the publication the
    converter was built from) as a list of mark records against the converter's HTML text.

    Each record holds ``start``, ``end``, ``type``, ``title``, ``content`` (and ``info`` for a
    duplicate) as quorl-mark reads them, and ``source`` ("quorl" or "reader"), ``annotation``
    (the PDF annotation kind), ``page`` (from 0), ``color`` ("#rrggbb" or None), ``author``,
    ``pdf_text``, ``html_text`` and ``exact`` (the two texts are equal). Notes and flags carry
    ``note``: true. An annotation that marks no text, or only text without a counterpart in the
    HTML, has ``start`` and ``end`` None and a ``reason``.

    Raises JobError when the PDF cannot be read or is not the same publication (another page
    count, or text other than the converter's where the converter read it).
    """
    import quorl

    if not isinstance(annotated_pdf, (bytes, bytearray, memoryview)):
        raise TypeError("annotated_pdf must be the PDF's bytes, not %s"
                        % type(annotated_pdf).__name__)
    text = PdfText(converter)
    maker = RecordMaker(text, Alignment(converter.difflist), converter.htmldoc.text)
    # Only the pages that carry annotations are read: a damaged one fails there.
    doc = open_pdf(quorl.fitz, bytes(annotated_pdf), pdf_name, read_pages=False)
    try:
        if doc.page_count != text.pages:
            raise JobError(pdf_name, "match", "not the publication the converter was built "
                           "from: it has %d pages, the converter's PDF %d"
                           % (doc.page_count, text.pages))
        annotations = []
        for page in doc:
            try:
                on_page = read_annotations(page)
                if on_page or page.number == 0:
                    check_same_page(quorl, text, page, pdf_name)
            except JobError:
                raise
            except Exception as e:
                raise JobError(pdf_name, "pdf", "the PDF is damaged: page %d cannot be read "
                               "(%s)" % (page.number + 1, one_line(e))) from None
            if on_page:
                select_text(quorl, text, page.number, on_page)
                annotations.extend(on_page)
    finally:
        doc.close()

    highlights = [a for a in annotations if a.is_quorl_highlight]
    labels = [a for a in annotations if a.is_quorl_label]
    claims_flags = [a for a in annotations if a.is_claims_flag]
    flags = [a for a in annotations if a.is_flag and not a.is_claims_flag]
    ours = {id(a) for a in highlights + labels + claims_flags + flags}
    records = quorl_records(maker, highlights, labels)
    records += flag_records(maker, flags, claims_flags)
    for annotation in annotations:
        if id(annotation) not in ours:
            records += reader_records(maker, annotation)
    return sorted(records, key=_order)
