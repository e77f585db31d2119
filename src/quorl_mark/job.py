"""One patent's job: its HTML, PDF and marks in; the marked PDF and the other outputs out, as
bytes, or a JobError that names the file, the stage and the reason.

The commands, batch marking and extraction all go through this module. ``mark_patent`` writes
nothing; ``mark_to_files`` writes its outputs through outputs.Outputs, all or nothing.
"""
import dataclasses
import json
import os
import re
import time
from typing import Dict, List, Optional

from .review import page as review_page, views
from .diagnostics import module_diagnostics
from .errors import JobError, one_line, page_ranges
from .inputs import (damaged_pdf, describe, label_off_page, open_pdf, read_html, read_marks,
                     read_pdf, unknown_keys)
from .outputs import Outputs
from .vocabulary import AUTHOR, SECTIONS, SUBJECTS, marker_registry

# The HTML and the PDF are taken for the same publication when at least this share of their
# characters align: 2 * aligned / (HTML characters + PDF characters), over the sections the HTML
# has, so that one short section cannot decide alone. Measured on generated patents
# (bench/bench_match.py, 12 of each): matching pairs 0.966-0.998, pairs with edited HTML
# 0.963-0.998, about 5% of the characters wrong 0.953-0.984, different patents 0.091-0.372.
MATCH_THRESHOLD = 0.60

# A publication number as printed: country code, digits (blanks allowed), an optional kind code.
_PUBLICATION = re.compile(r"(?<![A-Za-z0-9])([A-Z]{2})\s?(\d[\d ]{5,14}\d)(?:\s?[A-Z]\d?)?"
                          r"(?![A-Za-z0-9])")
# The labels a first page prints before the publication's own number.
_PUBLICATION_LABEL = re.compile(r"(?:公布号|公告号|公开号)")


# The box a flag mark's label is drawn in (quorl/marks/label_geometry.hpp), in points, and its
# font size: a longer label is cut on both sides. What fits: Chinese characters, Latin letters.
FLAG_WIDTH = 60
FLAG_FONT_SIZE = 10
FLAG_FITS = (6, 12)


@dataclasses.dataclass
class Match:
    """How well an HTML and a PDF belong together."""
    html_number: Optional[str]
    pdf_number: Optional[str]
    aligned: float  # the share of characters aligned, see MATCH_THRESHOLD

    def problem(self):
        """Why the two do not belong together, or None."""
        if self.html_number and self.pdf_number and self.html_number != self.pdf_number:
            return "publication numbers differ: %s in the HTML, %s in the PDF" % (
                self.html_number, self.pdf_number)
        if self.aligned < MATCH_THRESHOLD:
            return ("only %.0f%% of their text aligns (at least %.0f%% is expected of one "
                    "publication)" % (100 * self.aligned, 100 * MATCH_THRESHOLD))
        return None


@dataclasses.dataclass
class Result:
    """What one patent's job made: outputs by name, and figures for reports."""
    pdf: bytes
    marks: List[dict]
    pages: int
    marked_pages: int
    match: Match
    seconds: Dict[str, float]
    warnings: List[str]
    unplaced: int = 0  # marks left out by skip_unplaced, each with its "reason"
    diff_views: Dict[str, bytes] = dataclasses.field(default_factory=dict)
    previews: Dict[str, bytes] = dataclasses.field(default_factory=dict)
    review: Dict[str, bytes] = dataclasses.field(default_factory=dict)

    def marks_json(self):
        """The marks as --marks-out writes them: each with its pdflines and rects."""
        return marks_json(self.marks)


def _quorl():
    import quorl  # imported late: a command's --help works even where the module cannot load

    return quorl


def publication_number(text):
    """Country code and number of the first publication number in ``text``, blanks removed;
    the kind code (A, B, ...) is left out, since an application and its grant share it."""
    label = _PUBLICATION_LABEL.search(text)
    match = (label and _PUBLICATION.search(text, label.end())) or _PUBLICATION.search(text)
    return match.group(1) + match.group(2).replace(" ", "") if match else None


def load_html(html_text, html_name="PATENT.html"):
    """The HTML document model as get_patent_converter builds it, refused when it holds none of
    a patent's sections."""
    quorl = _quorl()
    try:
        htmldoc = quorl.HtmlDocument(html_text, parserlist=[{"name": ["img", "div", "h2"]}])
    except Exception as e:
        raise JobError(html_name, "html", "cannot read it as HTML: %s" % one_line(e)) from None
    if not any(htmldoc.infodict.get(section) for section, _ in SECTIONS):
        raise JobError(html_name, "html", "not a patent's full text: none of the sections %s "
                       "is there" % ", ".join(s for s, _ in SECTIONS))
    return htmldoc


# A publication's page (A4) in points, which the text regions are laid out for.
_PUBLICATION_PAGE = (595, 842)


def _box(rect):
    return "x %.0f-%.0f, y %.0f-%.0f pt" % (rect[0], rect[2], rect[1], rect[3])


def no_text_found(pdfdoc):
    """Why a PDF gave no text in the patent's text regions, in words: what text it has, and
    where the regions were looked for."""
    doc = pdfdoc.doc
    characters = sum(len("".join(page.get_text().split())) for page in doc)
    if not characters:
        return ("no text found: the PDF holds no text at all (a scanned PDF? --ocr auto reads "
                "pages without text)")
    headed = sorted({n + 1 for kind, entry in pdfdoc.parsedict.items() if kind != "abstract"
                     for n in entry["pages"]})
    first = doc[0].rect
    message = ("no text found in the patent's text regions: the PDF holds %d characters of "
               "text, none of them where a publication prints its text: the abstract on page 1 "
               "(in two columns below the line across it, %s) and the sections within %s of "
               "the pages whose header (%s) names them, %s"
               % (characters, _box((pdfdoc.parsedict["abstract"]["margins"][0][0],
                                    pdfdoc.separatemargin[3], pdfdoc.parsedict["abstract"]
                                    ["margins"][-1][2], pdfdoc.docmargin[3])),
                  _box(pdfdoc.docmargin), _box(pdfdoc.pagetypemargin),
                  "pages %s" % page_ranges(headed) if headed
                  else "found on none of its %d pages" % doc.page_count))
    width, height = _PUBLICATION_PAGE
    if abs(first.width - width) > 60 or abs(first.height - height) > 80:
        message += ("; these regions are laid out for a publication's A4 page (%d x %d pt), and "
                    "page 1 is %.0f x %.0f pt" % (_PUBLICATION_PAGE + (first.width, first.height)))
    return message


def load_converter(html_text, pdf_bytes, html_name="PATENT.html", pdf_name="PATENT.pdf"):
    """The converter of one patent, built as get_patent_converter builds it, one document at a
    time so that a failure names the file it comes from."""
    quorl = _quorl()
    htmldoc = load_html(html_text, html_name)
    pdffile = open_pdf(quorl.fitz, pdf_bytes, pdf_name)
    try:
        pdfdoc = quorl.PdfDocument(pdffile, markerdict=marker_registry(quorl))
    except Exception as e:
        raise JobError(pdf_name, "pdf", "not a patent publication laid out as expected (%s)"
                       % one_line(e)) from None
    if not pdfdoc.text:
        raise JobError(pdf_name, "pdf", no_text_found(pdfdoc))
    try:
        return quorl.PatentConverter(htmldoc, pdfdoc)
    except Exception as e:
        raise JobError(None, "match", "cannot align %s with %s: %s"
                       % (html_name, pdf_name, one_line(e))) from None


def refuse_damaged(reports, pdf_name, doc=None):
    """Raises a JobError naming the PDF as damaged when MuPDF reported anything while it was read
    (diagnostics.PdfLibraryReports) or had to repair ``doc`` at any point. A sound PDF reads
    without a single report; a damaged one can open cleanly and still lose text later, when a
    page's objects are first read."""
    lines = reports.collect()
    try:
        repaired = doc is not None and doc.is_repaired
    except Exception:  # a closed document: its repair was reported when it happened
        repaired = False
    if lines or repaired:
        raise damaged_pdf(pdf_name, lines, repaired)


def missing_sections(converter):
    """The sections the PDF has text for and the HTML lacks, as their HTML ids."""
    htmldoc, pdfdoc = converter.htmldoc, converter.pdfdoc
    return [section for section, kind in SECTIONS[1:3]
            if not htmldoc.infodict.get(section) and pdfdoc.get_text([kind]).strip()]


def html_publication_number(htmldoc):
    """The publication number of the HTML's heading (the text before its first section) or of
    its bibliographic section, or None."""
    starts = [htmldoc.infodict[s]["start"] for s, _ in SECTIONS if htmldoc.infodict.get(s)]
    heading = htmldoc.text[:min(starts)] if starts else ""
    return publication_number(heading + "\n" + htmldoc.get_text(SECTIONS[0][0])) \
        if htmldoc.infodict.get(SECTIONS[0][0]) else publication_number(heading)


def first_page_check(html_text, html_name, pdf_name):
    """What the OCR of a scan checks on its first page, read before the others: the
    publication number it shows must be the HTML's."""
    def check(text):
        html_number = html_publication_number(load_html(html_text, html_name))
        pdf_number = publication_number(text)
        if html_number and pdf_number and html_number != pdf_number:
            raise JobError(None, "match", "%s and %s do not belong to the same publication: "
                           "publication numbers differ: %s in the HTML, %s on the scan's first "
                           "page (read before its other pages); give the scan of %s, or "
                           "--allow-mismatch to mark anyway"
                           % (html_name, pdf_name, html_number, pdf_number, html_number))
    return check


def measure_match(converter):
    """The publication numbers both documents show and the share of their text that aligns."""
    htmldoc, pdfdoc = converter.htmldoc, converter.pdfdoc
    html_number = html_publication_number(htmldoc)
    pdf_number = publication_number(pdfdoc.doc[0].get_text())
    present = [(s, kind) for s, kind in SECTIONS if htmldoc.infodict.get(s)]
    html_chars = sum(len(htmldoc.get_text(s)) for s, _ in present)
    pdf_chars = sum(len(pdfdoc.get_text([kind]).replace("\n", "")) for _, kind in present)
    aligned = sum(a_end - a_start for (a_start, a_end), _ in converter.difflist)
    total = html_chars + pdf_chars
    return Match(html_number, pdf_number, 2 * aligned / total if total else 0.0)


def checked_match(converter, html_name, pdf_name, allow_mismatch=False):
    """measure_match, refused with a JobError when the HTML and the PDF do not belong to the
    same publication, unless ``allow_mismatch``."""
    match = measure_match(converter)
    problem = match.problem()
    if problem and not allow_mismatch:
        raise JobError(None, "match", "%s and %s do not belong to the same publication: %s "
                       "(--allow-mismatch overrides this check)" % (html_name, pdf_name, problem))
    return match


def section_spans(htmldoc):
    """(id, start, end) of every section the HTML has, in the document text."""
    return [(s, htmldoc.infodict[s]["start"], htmldoc.infodict[s]["end"])
            for s, _ in SECTIONS if htmldoc.infodict.get(s)]


def already_marked(pdffile):
    """Number of annotations in the document that quorl's markers drew."""
    count = 0
    for page in pdffile:
        for annot in page.annots():
            info = annot.info
            if info.get("subject") in SUBJECTS and info.get("title") == AUTHOR:
                count += 1
    return count


def _rects(pdfdoc, pdflines):
    """[page, x0, y0, x1, y1] of the text a mark covers, one per PDF line."""
    (first, (start, _)), (last, (_, end)) = pdflines[0], pdflines[-1]
    return [[page, rect.x0, rect.y0, rect.x1, rect.y1]
            for page, rect in pdfdoc.getcontentposition((first, start), (last, end))]


class _Unplaced(Exception):
    """Why a mark has no place in the PDF."""


def _place(converter, mark, text_length, page_sizes):
    """Adds "pdflines" and "rects" to a mark, or raises _Unplaced. ``page_sizes`` keeps the
    width and height of each page's cropbox once one mark has asked for it."""
    if mark["end"] > text_length:
        raise _Unplaced("it ends beyond the HTML text, which has %d characters" % text_length)
    try:
        converter.convert_mark_html2pdf(mark)
    except IndexError:
        raise _Unplaced("no part of it is aligned with the PDF text") from None
    if not mark["pdflines"]:
        raise _Unplaced("it covers no PDF text")
    (first, (start, _)), (last, (_, end)) = mark["pdflines"][0], mark["pdflines"][-1]
    if first == last and end <= start:
        raise _Unplaced("its text is only in the HTML: the PDF shows none of it")
    try:
        mark["rects"] = _rects(converter.pdfdoc, mark["pdflines"])
    except Exception:
        # The module's own "Reduce Error": a line of the stretch selects no character.
        lines = sorted({line for line, _ in mark["pdflines"]})
        raise _Unplaced("its text has no place on the page: on PDF line%s %s it covers no "
                        "character the PDF shows (its text there is only in the HTML)"
                        % ("s" if len(lines) > 1 else "", ", ".join(map(str, lines)))) from None
    page_number, *rect = mark["rects"][0]
    size = page_sizes.get(page_number)
    if size is None:
        # Marks stand in the page's own coordinates, which its /Rotate turns only when shown.
        box = converter.pdfdoc.doc[page_number].cropbox
        size = page_sizes[page_number] = (box.width, box.height)
    off_page = label_off_page(mark, rect, *size)
    if off_page:
        raise _Unplaced(off_page)


def place_marks(converter, marks, marks_name="MARKS.json", skip_unplaced=None):
    """Converts and draws every mark, adding "pdflines" and "rects" to each; returns the marked
    PDF's bytes.

    A mark that cannot be placed fails the whole job, unless ``skip_unplaced`` is a list: then
    the mark gets empty "pdflines" and "rects" and a "reason", is not drawn, and a warning naming
    it is appended to the list."""
    text_length, page_sizes = len(converter.htmldoc.text), {}
    for index, mark in enumerate(marks):
        if mark.get("start") is None and "reason" in mark:  # found nowhere in the text
            continue
        try:
            _place(converter, mark, text_length, page_sizes)
        except _Unplaced as e:
            message = "%s cannot be placed: %s" % (describe(index, mark), e)
            if skip_unplaced is None:
                raise JobError(marks_name, "place", message + "; --skip-unplaced leaves such "
                               "marks out and draws the others") from None
            mark.update(pdflines=[], rects=[], reason=str(e))
            skip_unplaced.append("%s: %s; left out" % (marks_name, message))

    def draw():
        for index, mark in enumerate(marks):
            if "reason" in mark and not mark["rects"]:
                continue
            drawn = {k: v for k, v in mark.items() if k != "rects"}
            try:
                converter.pdfdoc.make_mark(drawn)
            except Exception as e:
                raise JobError(marks_name, "draw", "%s cannot be drawn: %s"
                               % (describe(index, mark), one_line(e))) from None

    # One session for all marks: each page loaded once, its annotation names read once.
    _quorl()._drawing_session(converter.pdfdoc.doc, draw)
    try:
        return converter.mark_pdf([])
    except Exception as e:
        raise JobError(None, "draw", "cannot write the marked PDF: %s" % one_line(e)) from None


def cut_flags(fitz, marks, marks_name):
    """A warning for every flag mark drawn whose label is wider than the flag's box, which shows
    only its middle."""
    warnings = []
    for index, mark in enumerate(marks):
        if mark["type"] != "flag" or not mark.get("rects"):
            continue
        text = mark["content"]
        font = "helv" if all(ord(c) < 256 for c in text) else "china-s"
        width = fitz.get_text_length(text, fontname=font, fontsize=FLAG_FONT_SIZE)
        if width > FLAG_WIDTH:
            warnings.append("%s: %s: its flag label %s is %.0f points wide and the flag %d, "
                            "so only its middle shows; give it a content of at most %d Chinese "
                            "characters or about %d Latin letters"
                            % (marks_name, describe(index, mark),
                               json.dumps(text, ensure_ascii=False), width, FLAG_WIDTH,
                               *FLAG_FITS))
    return warnings


def marks_json(marks):
    converted = []
    for mark in marks:
        record = dict(mark)
        record["pdflines"] = [[line, list(within)] for line, within in mark["pdflines"]]
        converted.append(record)
    return (json.dumps(converted, ensure_ascii=False, indent=2, allow_nan=False)
            + "\n").encode("utf-8")


def previews(fitz, pdf_bytes, dpi, reduced=None):
    """File name -> PNG bytes of every page that carries an annotation; ``reduced`` as for
    review.page.page_images."""
    return {"page-%03d.png" % (page.number + 1): png
            for page, png, _ in review_page.page_images(fitz, pdf_bytes, dpi, marked_only=True,
                                                        reduced=reduced)}


def mark_patent(html_path, pdf_path, marks_path, *, allow_mismatch=False, diff_view=False,
                preview_dpi=None, review_dpi=None, verbose=False, ocr="auto", ocr_jobs=None,
                ocr_progress=None, skip_unplaced=False, keep_ocr=None):
    """Marks one patent given by the paths of its inputs; returns a Result, or raises JobError.

    Nothing is written. ``diff_view`` adds the diff view pages, ``preview_dpi`` the PNG previews
    of the marked pages, ``review_dpi`` the review page (review/page.py) with its page images. The
    quorl module's own diagnostics go to standard error when ``verbose``, nowhere otherwise.
    ``ocr`` (auto, always, never) gives pages without text an OCR text layer first, read by
    ``ocr_jobs`` children (see ocr.document.for_job); the marked PDF keeps it. ``skip_unplaced``
    draws the marks that can be placed and leaves out, with a warning each, those that cannot
    (see place_marks) instead of failing. ``keep_ocr(pdf)``, when given, is called with the OCR'd
    PDF as soon as it is made, before anything can fail on it, or not at all when no page was
    read; it returns where the PDF was kept, for the message of a later failure.
    """
    seconds = {}
    clock = time.perf_counter()

    def lap(stage):
        nonlocal clock
        now = time.perf_counter()
        seconds[stage] = seconds.get(stage, 0.0) + now - clock
        clock = now

    html_text = read_html(html_path)
    pdf_bytes = read_pdf(pdf_path)
    marks = read_marks(marks_path)
    lap("read")
    quorl = _quorl()
    from .ocr.document import converter_with_text  # loads PyMuPDF

    read_by_ocr = []

    def build(pdf):
        if pdf is not pdf_bytes and not read_by_ocr:
            read_by_ocr.append(keep_ocr(pdf) if keep_ocr is not None else None)
        return load_converter(html_text, pdf, html_path, pdf_path)

    with module_diagnostics(verbose) as reports:
        doc = None
        try:
            prepared = converter_with_text(
                pdf_bytes, pdf_path, ocr, build, ocr_jobs, ocr_progress,
                None if allow_mismatch else first_page_check(html_text, html_path, pdf_path))
            converter, warnings = prepared.converter, prepared.warnings
            doc = converter.pdfdoc.doc
            refuse_damaged(reports, pdf_path, doc)
            lap("align")
            seconds["align"] -= prepared.ocr_seconds
            seconds["ocr"] = prepared.ocr_seconds
            match = checked_match(converter, html_path, pdf_path, allow_mismatch)
            problem = match.problem()
            if problem:
                warnings.append("%s and %s: %s (marking anyway)" % (html_path, pdf_path,
                                                                    problem))
            drawn_before = already_marked(doc)
            if drawn_before:
                warnings.append("%s: already carries %d annotations drawn by quorl; the marks "
                                "will be drawn a second time" % (pdf_path, drawn_before))
            unplaced = [] if skip_unplaced else None
            from .anchoring import anchor_marks  # loads lxml

            marks, anchoring_notes = anchor_marks(
                marks, converter.htmldoc.text, section_spans(converter.htmldoc), html_text,
                marks_path, unplaced)
            warnings += anchoring_notes
            marked = place_marks(converter, marks, marks_path, unplaced)
            lap("mark")
            warnings += unplaced or []
            warnings += unknown_keys(marks, marks_path) + cut_flags(quorl.fitz, marks, marks_path)
            result = Result(pdf=marked, marks=marks, pages=doc.page_count,
                            marked_pages=len({rect[0] for m in marks for rect in m["rects"]}),
                            match=match, seconds=seconds, warnings=warnings,
                            unplaced=len(unplaced or ()))
            if diff_view:
                result.diff_views = views.diff_views(quorl, converter, str(html_path),
                                                     str(pdf_path))
            reduced = {"--preview": [], "--review": []}
            if preview_dpi:
                result.previews = previews(quorl.fitz, marked, preview_dpi,
                                           reduced["--preview"])
            if review_dpi:
                result.review = review_page.review_files(
                    converter, [m for m in marks if m.get("start") is not None], marked,
                    review_dpi,
                    title="%s and %s" % (os.path.basename(html_path),
                                         os.path.basename(pdf_path)),
                    reduced=reduced["--review"])
            for option, dpi in (("--preview", preview_dpi), ("--review", review_dpi)):
                warning = review_page.reduced_warning(option, dpi, reduced[option])
                if warning:
                    warnings.append(warning)
            refuse_damaged(reports, pdf_path, doc)
            lap("views")
        except Exception as e:
            # What MuPDF reported explains a failure better than the failure itself, unless
            # that already says what is wrong with the PDF.
            if not (isinstance(e, JobError) and e.stage == "pdf"):
                refuse_damaged(reports, pdf_path, doc)
            if isinstance(e, JobError) and read_by_ocr:
                kept = read_by_ocr[0]
                raise JobError(e.file, e.stage, "%s; %s" % (e.reason, (
                    "the OCR'd PDF is kept in %s: marking it instead of %s needs no OCR" % (
                        kept, pdf_path) if kept else "--ocr-out FILE keeps the OCR'd PDF, to "
                    "give it instead of the scan next time"))) from None
            raise
    return result


def mark_to_files(html_path, pdf_path, marks_path, output, *, marks_out=None, diff_view=None,
                  preview=None, review=None, dpi=100, allow_mismatch=False, verbose=False,
                  ocr="auto", ocr_jobs=None, ocr_progress=None, skip_unplaced=False,
                  ocr_out=None):
    """Marks one patent and writes its outputs, all or nothing; returns the Result.

    ``output`` is the marked PDF's path, or None to leave it to the caller (as "-o -" does);
    ``marks_out`` the marks with their PDF lines and rectangles; ``diff_view``, ``preview`` and
    ``review`` folders; ``ocr``, ``ocr_jobs``, ``ocr_progress`` and ``skip_unplaced`` as for
    mark_patent. Every
    output is checked before the work starts (see outputs.Outputs). Returns the Result and the
    paths written after the marked PDF.

    ``ocr_out`` is where the OCR'd PDF goes, written on its own as soon as it is made, so that a
    failure after the OCR does not cost the next run the OCR again; nothing is written there
    when no page needed it.
    """
    inputs = [("PATENT.html", html_path), ("PATENT.pdf", pdf_path), ("MARKS.json", marks_path)]

    kept = []

    def keep_ocr(pdf):
        with Outputs(inputs) as alone:
            alone.folder(os.path.dirname(os.path.abspath(ocr_out)), "the folder of")
            alone.target(ocr_out, "--ocr-out")
            alone.stage(ocr_out, pdf, "--ocr-out")
            alone.commit()
        kept.append(ocr_out)
        return ocr_out

    with Outputs(inputs) as outputs:
        if ocr_out is not None:  # its folder is made only when it is written
            outputs.target(ocr_out, "--ocr-out")
        files = [(label, path) for label, path in (("-o", output), ("--marks-out", marks_out))
                 if path is not None]
        for label, path in files:
            outputs.target(path, label)
            outputs.folder(os.path.dirname(os.path.abspath(path)), "the folder of")
        folders = [(label, path) for label, path in (("--diff-view", diff_view),
                                                     ("--preview", preview),
                                                     ("--review", review)) if path]
        for label, path in folders:
            outputs.folder(path, label)

        result = mark_patent(html_path, pdf_path, marks_path, allow_mismatch=allow_mismatch,
                             diff_view=bool(diff_view), preview_dpi=dpi if preview else None,
                             review_dpi=dpi if review else None, verbose=verbose, ocr=ocr,
                             ocr_jobs=ocr_jobs, ocr_progress=ocr_progress,
                             skip_unplaced=skip_unplaced,
                             keep_ocr=keep_ocr if ocr_out is not None else None)
        written = list(kept)
        if output is not None:
            outputs.stage(output, result.pdf, "-o")
        if marks_out is not None:
            outputs.stage(marks_out, result.marks_json(), "--marks-out")
            written.append(marks_out)
        for (label, folder), files in ((("--diff-view", diff_view), result.diff_views),
                                       (("--preview", preview), result.previews),
                                       (("--review", review), result.review)):
            for name, data in files.items():
                path = os.path.join(folder, name)
                outputs.stage(path, data, label)
                written.append(path)
        outputs.commit()
    return result, written
