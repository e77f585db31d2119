"""Scanned patents: an invisible text layer recognised by Tesseract (page.py) is added to the
pages that carry no text, so that the rest of quorl reads them as it reads a text PDF.

``ocr_pdf(pdf)`` returns the new PDF's bytes; the input is never modified. Every recognised
character is written at its place in text render mode 3 (invisible) with a CJK font, the characters
of one printed line on one baseline (lines.py). A page scanned sideways or upside down is shown
upright, and a sheet fed crooked is shown level (the page image, unchanged inside, turned about the
page's middle), so that the text layer, laid where the text stands on the page as it is read, lies
on the printed text as the page is shown. The first page's horizontal rule, which a scan carries
only as pixels, is found in the page image and written as two invisible vector lines: the rule
under the header and the next one as long below it, as publications print them, or the one rule
twice (the document model takes the first page's second drawing for the rule above its text).

A page read that already carries text (``pages="all"``) has that text replaced, never doubled:
an invisible text layer (an earlier OCR) is removed, the page's images and drawings kept; a page
whose text is printed (a born-digital page) is replaced by its image at the OCR resolution,
what the recognised text then lies on.

The text layer holds what Tesseract read, whatever the patent's full-text HTML says: an HTML may
differ from what its PDF prints, and a searchable PDF that says what the HTML says would lie. A
character Tesseract misread is put in its place when the marks are aligned, as a typo of the PDF
is.

Pages are recognised in child processes (children.ChildPool), each with one Tesseract thread. A
page that cannot be read is left without text and reported. A page whose header misread the
drawings' name is known as one of the drawings from the pages around it only, and read again as
such once every page is read.
"""
import dataclasses
import itertools
import math
import os
import re
import shutil
import statistics
import time
import warnings
from typing import Callable, Dict, List, Optional, Set

import pymupdf

from ..errors import JobError
from . import running_header
from .blank import blank_pages, ranges
from .hocr import text_of
from .lines import (CJK_FONT, ELLIPSIS_FONT, LATIN_FONT, font_of, narrow_setting, page_size,
                    text_lines)

LANGUAGE = "chi_sim"
PACKAGES = "tesseract-ocr and tesseract-ocr-chi-sim"
PAGE_TARGET = "quorl_mark.ocr.page:recognise_page"
PAGE_TIMEOUT = 600  # seconds; a page at 300 dpi takes about ten
# The first page's rule lies between these shares of the page's height, below the header.
RULE_BAND = (0.12, 0.6)
MODES = ("auto", "all")
# What the first page's page-count box reads, a part's name perhaps misread: two counts of
# pages, or a part's name and its count.
PAGE_COUNT = re.compile(r"\d+页.*\d+页|(权利要求书|说明书|附图|序列表)\d+页")
# The separator lies at most this far (points) below the page-count box's bottom.
COUNT_REACH = 40
# Why a page that shows no ink, or only specks, is left without text (blank.py).
BLANK = "it is blank"
# The text layer's fonts' ascent and descent, in thousandths of an em (see set_layer_metrics):
# a box 1.06 em tall that overlaps by nine tenths or more both the em square of the Song
# typeface publications are printed in (SimSun: 859, -141) and the taller box other CJK fonts
# give (1000, -200), since a scan does not tell which font printed it.
LAYER_ASCENT_DESCENT = (900, -160)
# Tesseract's own threads in each child, also when there is one child: with its OpenMP threads
# a page takes more than twice as long on two cores as with one (bench/bench_ocr.py). None
# leaves them to Tesseract.
TESSERACT_THREADS = 1


class OcrWarning(UserWarning):
    """A page ocr_pdf could not read, left without text."""


@dataclasses.dataclass
class OcrResult:
    pdf: bytes
    pages: List[int]  # the pages given a text layer, from 0
    unreadable: Dict[int, str]  # page -> why it was left without text
    rule: Optional[float]  # y of the rule written onto the first page
    seconds: float
    # page -> the characters read on it that no font of the text layer encodes, left out
    left_out: Dict[int, str] = dataclasses.field(default_factory=dict)

    def warnings(self, name):
        blank = [page for page, reason in self.unreadable.items() if reason == BLANK]
        said = ["%s: pages %s are blank: left without text" % (name, ranges(blank))
                ] if len(blank) > 1 else []
        said += ["%s: page %d was left without text: %s" % (name, page + 1, reason)
                 for page, reason in sorted(self.unreadable.items())
                 if reason != BLANK or len(blank) == 1]
        return said + ["%s: page %d: %s read and left out of the text layer, which has no font "
                       "for %s" % (name, page + 1, ", ".join(repr(c) for c in chars),
                                   "them" if len(chars) > 1 else "it")
                       for page, chars in sorted(self.left_out.items())]


def tessdata_for(language):
    """Tesseract's data folder, checked for ``language`` and orientation detection; JobError
    naming the Debian packages when Tesseract or its data is missing."""
    missing = None
    try:
        tessdata = pymupdf.get_tessdata()
    except Exception:
        tessdata = None
    needed = language.split("+") + ["osd"]
    if tessdata is None or shutil.which("tesseract") is None:
        missing = "Tesseract OCR is not installed"
    else:
        absent = [n for n in needed
                  if not os.path.isfile(os.path.join(tessdata, n + ".traineddata"))]
        if absent:
            missing = "Tesseract's language data %s is missing from %s" % (
                ", ".join(absent), tessdata)
    if missing:
        raise JobError(None, "ocr", "%s; install the Debian packages %s" % (missing, PACKAGES))
    return tessdata


def has_text(page):
    return bool(page.get_text("text").strip())


def pages_to_read(doc, pages):
    """The page numbers to recognise: those without any text ("auto") or all ("all")."""
    if pages not in MODES:
        raise ValueError("pages must be one of %s, not %r" % (", ".join(MODES), pages))
    return [p.number for p in doc if pages == "all" or not has_text(p)]


def printed_text(page):
    """Whether any of the page's text is drawn visibly (not in render mode 3, not transparent)."""
    return any(span["alpha"] for block in page.get_text("dict")["blocks"]
               for line in block.get("lines", ()) for span in line["spans"] if span["text"].strip())


def without_text(doc, number, dpi):
    """The page ``number`` with the text it carries taken away (see the module's docstring)."""
    page = doc[number]
    if not has_text(page):
        return page
    if not printed_text(page):
        page.add_redact_annot(page.rect)
        page.apply_redactions(images=pymupdf.PDF_REDACT_IMAGE_NONE,
                              graphics=pymupdf.PDF_REDACT_LINE_ART_NONE,
                              text=pymupdf.PDF_REDACT_TEXT_REMOVE)
        return page
    image = page.get_pixmap(dpi=dpi, alpha=False).tobytes("png")  # as it is shown, turned
    rect = page.rect
    page = doc.new_page(number, width=rect.width, height=rect.height)
    page.insert_image(page.rect, stream=image)
    doc.delete_page(number + 1)
    return page


def _page_pdf(doc, number):
    single = pymupdf.open()
    single.insert_pdf(doc, from_page=number, to_page=number)
    return single.tobytes()


def counted_as_drawings(found, number):
    """Whether page ``number`` is one of the drawings by the header of a drawings page before it
    in ``found``: its name and its count ("1/4页": three more follow), as the drawings come
    last. Such a page is read for its captions only, its figures never read (Tesseract takes
    seconds over a figure whose strokes a bilevel scan broke into specks, too small to be told
    from text)."""
    for m, page_found in found.items():
        if m < number and _read_as_drawings(page_found):
            count = running_header.page_count(_header_of(page_found))
            if count is not None and 1 <= count[0] <= count[1] and \
                    number - m <= count[1] - count[0]:
                return True
    return False


def _recognise(doc, numbers, language, dpi, tessdata, jobs, progress, parts=None):
    """page -> recognised data or the reason it failed, pages run in ChildPool children (each
    read as a page of the part ``parts`` gives it, or, when it gives none, of the drawings when
    a drawings page read before it counts it among them)."""
    from ..children import ChildPool

    env = {"OMP_THREAD_LIMIT": str(TESSERACT_THREADS)} if TESSERACT_THREADS else {}
    # OpenCV's threads too: the page's cores are the other children's. And OpenBLAS's, which
    # nothing here uses: numpy's import starts one spinning thread a core, a sixth of a
    # second of CPU for each child.
    env.update(OPENCV_FOR_THREADS_NUM="1", OPENBLAS_NUM_THREADS="1")
    found = {}

    def part(n):
        if parts and n in parts:
            return parts[n]
        return running_header.DRAWINGS if counted_as_drawings(found, n) else None
    # Taken as the pool starts each page: the pages read by then tell.
    tasks = ((n, PAGE_TARGET, (_page_pdf(doc, n), language, dpi, tessdata, n == 0, True,
                               part(n))) for n in numbers)
    with ChildPool(min(jobs, len(numbers)), timeout=PAGE_TIMEOUT, env=env,
                   preload=("quorl_mark.ocr.page",)) as pool:
        for outcome in pool.run(tasks):
            found[outcome.key] = outcome.value if outcome.status == "ok" else (
                outcome.error or outcome.status)
            if progress is not None:
                progress()
    return found


def _upright(doc, number, size, turn, skew=0.0):
    """Replaces a page that does not stand upright and level by an upright page of ``size``
    showing it turned ``turn`` and then ``skew`` degrees clockwise about its middle, at its
    own scale (a crooked sheet's corners leave the page)."""
    page = doc[number]
    if not turn and not skew and not page.rotation:
        return page
    source = pymupdf.open()
    source.insert_pdf(doc, from_page=number, to_page=number)
    upright = doc.new_page(number, width=size[0], height=size[1])
    # show_pdf_page fits the turned page's bounding box into the rectangle given: the box of
    # the whole page turned by the skew, about the middle, keeps its scale.
    angle = math.radians(skew)
    width, height = size
    wide = width * abs(math.cos(angle)) + height * abs(math.sin(angle))
    tall = width * abs(math.sin(angle)) + height * abs(math.cos(angle))
    middle = upright.rect.tl + (width / 2, height / 2)
    upright.show_pdf_page(pymupdf.Rect(middle.x - wide / 2, middle.y - tall / 2,
                                       middle.x + wide / 2, middle.y + tall / 2),
                          source, 0, rotate=-(turn + skew))
    doc.delete_page(number + 1)
    return doc[number]


def encodes(font, ch):
    """Whether the text layer's ``font`` writes ``ch`` with a code of its own. The CJK font's
    code is its character's in GBK (its CMap covers that set), every character Tesseract's
    Chinese models return among them; a character outside it is written as its raw Unicode
    value, a code the font does not have, which a reader shows as nothing and MuPDF, when it
    later rewrites the page, reports as "cannot encode character"."""
    if font == LATIN_FONT:
        return ch.isascii()
    if font == ELLIPSIS_FONT:
        return ch == "…"
    try:
        ch.encode("gbk")
    except UnicodeEncodeError:
        return False
    return True


def write_text(page, lines):
    """Writes ``lines`` (lines.TextLine) onto ``page`` as invisible text; returns the characters
    no font of the layer encodes (encodes), left out, each character after them still at its
    own place. The characters of a line that follow one another in one font are written at
    once: the layout sets them by that font's own advances, and PyMuPDF looks through the
    page's fonts on every call (a call for each character took a quarter of a second a page)."""
    shape = page.new_shape()
    left_out = []
    for line in lines:
        for font, stretch in itertools.groupby(line.chars, key=lambda char: _font_for(char[0])):
            stretch = list(stretch)
            if font is None:
                left_out += [c for c, _ in stretch]
                continue
            shape.insert_text((stretch[0][1], line.baseline), "".join(c for c, _ in stretch),
                              fontname=font, fontsize=line.size, render_mode=3)
    shape.commit()
    set_layer_metrics(page)
    return left_out


def _font_for(ch):
    font = font_of(ch)
    return font if encodes(font, ch) else None


def set_layer_metrics(page):
    """Gives the text layer's fonts (Latin included) the ascent and descent LAYER_ASCENT_DESCENT:
    a reader takes a character's box from them, and the built-in fonts' own (1.2 em tall for
    CJK, 1.37 em for Helvetica) would make every recognised character much taller than the
    printed one. A font descriptor's metrics are what readers use; the widths stay the fonts'
    own."""
    doc = page.parent
    ascent, descent = LAYER_ASCENT_DESCENT
    metrics = {"Ascent": str(ascent), "Descent": str(descent),
               "FontBBox": "[0 %d 1000 %d]" % (descent, ascent)}
    for xref, _, _, _, resource_name, _ in page.get_fonts():
        if resource_name in (CJK_FONT, ELLIPSIS_FONT):
            kind, descendants = doc.xref_get_key(xref, "DescendantFonts")
            kind, descriptor = doc.xref_get_key(int(descendants.strip("[]").split()[0]),
                                                "FontDescriptor")
            descriptor = int(descriptor.split()[0])
        elif resource_name == LATIN_FONT:
            kind, descriptor = doc.xref_get_key(xref, "FontDescriptor")
            if kind == "xref":
                descriptor = int(descriptor.split()[0])
            else:
                descriptor = doc.get_new_xref()
                doc.update_object(descriptor, "<</Type/FontDescriptor/FontName/Helvetica"
                                  "/Flags 32/ItalicAngle 0/CapHeight 718/StemV 88>>")
                doc.xref_set_key(xref, "FontDescriptor", "%d 0 R" % descriptor)
        else:
            continue
        for key, value in metrics.items():
            doc.xref_set_key(descriptor, key, value)


def _page_count_boxes(lines):
    """The boxes of the lines read as the first page's page-count box, top to bottom."""
    return sorted((line.box for line in lines if PAGE_COUNT.search(text_of(line))),
                  key=lambda box: box[1])


def first_rules(page, rules, lines=()):
    """The rules of the first page to write (their y's order the model's regions): a rule under
    the header and the separator, the rule just below the box that counts the pages
    ("权利要求书1页 说明书3页 附图2页") among ``lines`` (hocr.OcrLine, the page's as read),
    whatever else the page prints (an emblem's box, a rule under its columns, a rule under its
    header or none); the rule under the header is the topmost long one within RULE_BAND above
    the separator, or the separator itself. Where no page-count box was read, the topmost long
    rule within RULE_BAND and the next one below it there about as long (a publication prints one
    above its title; a rule under the columns lies lower), or the first one twice. None without
    a rule."""
    top, bottom = (share * page.rect.height for share in RULE_BAND)
    for count in _page_count_boxes(lines):
        under = [rule for rule in rules if count[3] - 2 <= rule[1] <= count[3] + COUNT_REACH
                 and rule[0] < count[2] and count[0] < rule[2]]
        if under:
            separator = min(under, key=lambda rule: rule[1])
            above = [rule for rule in rules if top <= rule[1] < separator[1] - 1
                     and rule[2] - rule[0] >= 0.8 * (separator[2] - separator[0])]
            return (above[0] if above else separator), separator
    inside = [rule for rule in rules if top <= rule[1] <= bottom]
    if not inside:
        return None
    first = inside[0]
    below = [rule for rule in inside if rule[1] > first[1] + 1
             and rule[2] - rule[0] >= 0.8 * (first[2] - first[0])]
    return first, (below[0] if below else first)


def write_rules(page, rules):
    """The rules as the first page's first two drawings, invisible: the document model takes
    the second for the rule above the first page's text."""
    for x0, y, x1 in rules:
        page.draw_line((x0, y), (x1, y), color=(0, 0, 0), width=1, stroke_opacity=0)


def read_input(pdf):
    if isinstance(pdf, (bytes, bytearray, memoryview)):
        return bytes(pdf), "PDF"
    path = os.fspath(pdf)
    try:
        with open(path, "rb") as f:
            return f.read(), path
    except OSError as e:
        raise JobError(path, "read", "cannot read it: %s" % (e.strerror or e)) from None


def _header_of(page_found):
    """A page's header lines as recognise_page found them, None without a header."""
    if isinstance(page_found, dict) and page_found.get("header"):
        return page_found["lines"][:page_found["header"]]
    return None


def _read_as_drawings(page_found):
    """Whether a page was read as a drawings page: its header names the drawings."""
    name = running_header.part_name(_header_of(page_found) or [])
    return name is not None and name[0] == running_header.DRAWINGS


def context_names(found, pages):
    """later page -> the part's name its header lost to misreading, where the pages around it
    tell (running_header.names_from_neighbours)."""
    later = list(range(1, pages))
    return {n: name for n, name in zip(later, running_header.names_from_neighbours(
        [_header_of(found.get(n)) for n in later])) if name is not None}


def named_headers(found, pages):
    """page -> its recognised lines, a later page's header given the part's name it lost to
    misreading where the pages around it tell."""
    lines = {n: f["lines"] for n, f in found.items() if isinstance(f, dict)}
    for n, name in context_names(found, pages).items():
        lines[n] = running_header.with_name(_header_of(found[n]), name) + \
            found[n]["lines"][found[n]["header"]:]
    return lines


def layer_lines(doc, numbers, found):
    """page -> the lines of its text layer, for the pages of ``numbers`` recognised in
    ``found``: the characters as Tesseract read them, each where the page prints it, in the
    setting (a full em or half of one for punctuation and Latin characters) of the document."""
    read = [f["lines"] for f in found.values() if isinstance(f, dict)]
    narrow = narrow_setting(read)
    sizes = [size for size in (page_size(lines, narrow) for lines in read) if size is not None]
    document_size = statistics.median(sizes) if sizes else None
    page_lines = named_headers(found, doc.page_count)
    return {number: text_lines(page_lines[number], document_size, narrow) for number in numbers
            if isinstance(found.get(number), dict)}


def add_text_layers(doc, numbers, found, dpi=300, left_out=None):
    """Writes the recognised text (``found``: page -> recognise_page's data, or why the page
    failed) onto ``doc``'s pages ``numbers``, replacing any text they carry (an image of a
    printed page at ``dpi``), as Tesseract read it; returns the pages done, the unreadable pages with their reasons and the y of the rule
    written onto the first page (or None); ``left_out`` (a dict) gets page -> the characters
    no font of the layer encodes (write_text)."""
    done, unreadable, rule = [], {}, None
    layers = layer_lines(doc, numbers, found)
    for number in numbers:
        page_found = found.get(number)
        if not isinstance(page_found, dict):
            unreadable[number] = page_found or "not recognised"
            continue
        lines = layers[number]
        if not lines:  # left as it was: a turn detected on a blank page is noise
            unreadable[number] = "no text was recognised on it (a blank page?)"
            continue
        without_text(doc, number, dpi)
        page = _upright(doc, number, page_found["size"], page_found["turn"],
                        page_found.get("skew", 0.0))
        if number == 0 and not page.get_drawings():
            found_rules = first_rules(page, page_found.get("rules", ()),
                                      page_found["lines"])
            if found_rules is not None:
                write_rules(page, found_rules)
                rule = found_rules[1][1]
        missing = write_text(page, lines)
        if missing and left_out is not None:
            left_out[number] = "".join(dict.fromkeys(missing))
        done.append(number)
    return done, unreadable, rule


def ocr_document(pdf, *, language=LANGUAGE, dpi=300, pages="auto", jobs=None, name=None,
                 progress: Optional[Callable[[int], Callable[[], None]]] = None,
                 blank: Optional[Set[int]] = None):
    """``ocr_pdf``'s work, with what it did: an OcrResult. ``progress(total)``, when given, is
    called once the pages to read are known and returns what to call after each page."""
    start = time.perf_counter()
    data, default_name = read_input(pdf)
    name = name or default_name
    if not 72 <= dpi <= 1200:
        raise ValueError("dpi must be between 72 and 1200")
    from ..diagnostics import new_pdf_library_reports
    from ..inputs import open_pdf

    doc = open_pdf(pymupdf, data, name, read_pages=False)
    numbers = pages_to_read(doc, pages)
    if not numbers:
        return OcrResult(data, [], {}, None, time.perf_counter() - start)
    tessdata = tessdata_for(language)
    # A blank page is known from its image in milliseconds, and never read.
    blank = blank_pages(doc, numbers) if blank is None else blank & set(numbers)
    found = {n: BLANK for n in blank}
    to_read = [n for n in numbers if n not in blank]
    jobs = max(1, jobs or os.cpu_count() or 1)
    step = progress(len(to_read)) if progress is not None and to_read else None
    if to_read:
        found.update(_recognise(doc, to_read, language, dpi, tessdata, jobs, step))
    # A page whose header misread its part is known from the pages around it only; one read as
    # a drawings page that is not, or the other way round, is read again as what it is.
    again = {n: name for n, name in context_names(found, doc.page_count).items()
             if (name == running_header.DRAWINGS) != _read_as_drawings(found.get(n))}
    if again:
        found.update(_recognise(doc, list(again), language, dpi, tessdata, jobs, None, again))
    # What MuPDF reported while the inputs were read is theirs; what it reports while quorl
    # writes the text layer is not the input's damage (write_text names what it left out).
    new_pdf_library_reports()
    left_out = {}
    done, unreadable, rule = add_text_layers(doc, numbers, found, dpi, left_out)
    out = doc.tobytes(garbage=1, deflate=True)
    doc.close()
    pymupdf.TOOLS.mupdf_warnings(reset=True)
    return OcrResult(out, done, unreadable, rule, time.perf_counter() - start, left_out)


def ocr_pdf(pdf, *, language=LANGUAGE, dpi=300, pages="auto", jobs=None, reference=None):
    """The bytes of ``pdf`` (bytes or a path) with an invisible OCR text layer on every page
    that has no text (``pages="auto"``) or on all pages (``"all"``); see the module's
    docstring. ``jobs`` child processes recognise pages (None: one per core). ``reference``,
    the patent's own text, is accepted as earlier versions took it and not used: the layer
    holds what Tesseract read. A page that cannot be read is left without text and
    named in an OcrWarning; a PDF that cannot be opened, or Tesseract missing, raises
    JobError."""
    if reference is not None and not isinstance(reference, str):
        raise TypeError("reference must be str, not %s" % type(reference).__name__)
    result = ocr_document(pdf, language=language, dpi=dpi, pages=pages, jobs=jobs)
    for message in result.warnings("PDF" if not isinstance(pdf, (str, os.PathLike)) else
                                   os.fspath(pdf)):
        warnings.warn(message, OcrWarning, stacklevel=2)
    return result.pdf


# --- for the commands -----------------------------------------------------------------------

OPTIONS = {"auto": "auto", "always": "all"}  # --ocr value -> pages; "never" reads no page


def first_page_first(pdf_bytes, name, mode, check, step=None):
    """``pdf_bytes`` with its first page read alone, once ``check(text)`` of what was read there
    raised nothing, and the warnings of that reading. A scan given with another publication's
    HTML is refused by its first page's publication number before its other pages cost their
    OCR. With --ocr auto the page read stays read; --ocr always reads it again with the others.
    ``step()`` is called once the page is read."""
    with pymupdf.open("pdf", pdf_bytes) as doc:
        single = _page_pdf(doc, 0)
    first = ocr_document(single, pages=OPTIONS[mode], jobs=1, name=name)
    if step is not None:
        step()
    with pymupdf.open("pdf", first.pdf) as read:
        check(read[0].get_text())
        if mode != "auto":
            return pdf_bytes, []
        with pymupdf.open("pdf", pdf_bytes) as doc:
            doc.insert_pdf(read, from_page=0, to_page=0, start_at=0)
            doc.delete_page(1)
            return doc.tobytes(garbage=1, deflate=True), first.warnings(name)


def for_job(pdf_bytes, name, mode, jobs=None, progress=None, first_page=None):
    """The PDF a job goes on with and the warnings for its message: ``pdf_bytes`` with a text
    layer on the pages ``mode`` (the --ocr value) asks for, as Tesseract read them. A PDF the job would refuse (not a PDF, encrypted, empty,
    damaged) raises the job's own JobError first. ``first_page(text)``, when given, checks the
    first page of a scan, read before the others (first_page_first)."""
    if mode == "never":
        return pdf_bytes, []
    if mode not in OPTIONS:
        raise JobError(None, "arguments", "--ocr must be one of auto, always, never")
    from ..inputs import open_pdf

    # The job's own checks: a damaged or encrypted PDF is reported as such, not read page by page.
    with open_pdf(pymupdf, pdf_bytes, name) as doc:
        numbers = pages_to_read(doc, OPTIONS[mode])
        if not numbers:
            return pdf_bytes, []
        # Known before anything is announced: the progress counts the pages Tesseract reads.
        blank = blank_pages(doc, numbers)
    first_warnings = []
    if first_page is not None and 0 in numbers and 0 not in blank and len(numbers) > len(blank) + 1:
        # One progress over every page, the first one read alone included, announced once
        # Tesseract is known to be there.
        tessdata_for(LANGUAGE)
        step = (progress(len(numbers) - len(blank) + (mode != "auto"))
                if progress is not None else None)
        pdf_bytes, first_warnings = first_page_first(pdf_bytes, name, mode, first_page, step)
        progress = None if step is None else (lambda total: step)
    result = ocr_document(pdf_bytes, pages=OPTIONS[mode], jobs=jobs, name=name,
                          progress=progress, blank=blank)
    return result.pdf, first_warnings + result.warnings(name)


def without_any_text(pdf_bytes):
    """Whether ``pdf_bytes`` opens and carries no text on any page."""
    try:
        with pymupdf.open("pdf", pdf_bytes) as doc:
            return not doc.needs_pass and not any(has_text(page) for page in doc)
    except Exception:
        return False


def pages_read_as_text(pdfdoc):
    """The pages on which the document model read characters (not just figures)."""
    return {line["page"] for line in pdfdoc.lines
            if any("origin" in char for char in line["chars"])}


@dataclasses.dataclass
class Prepared:
    converter: object
    pdf: bytes
    warnings: List[str]
    ocr_seconds: float


def converter_with_text(pdf_bytes, name, mode, build, jobs=None, progress=None,
                        first_page=None):
    """``build(pdf)``'s converter of the PDF a job goes on with: ``pdf_bytes`` with a text layer
    on the pages ``mode`` (the --ocr value) asks for (see for_job).

    With "auto" the PDF is first built as it is, since a text PDF, by far the most common,
    needs no OCR: a page on which the document model read characters has text, so only the
    other pages are looked at, and OCR and a second build follow only when one of them has
    none. That spares every text PDF an extraction of all its pages.

    With "never" a PDF that cannot be built and has no text on any page is refused as a scan
    that --ocr auto would read."""
    if mode == "never":
        try:
            return Prepared(build(pdf_bytes), pdf_bytes, [], 0.0)
        except JobError as e:
            if not without_any_text(pdf_bytes):
                raise
            raise JobError(e.file, e.stage, "the PDF has no text layer (a scan?), and --ocr never "
                           "reads none; --ocr auto reads its pages with Tesseract OCR") from None
    first_error = None
    if mode == "auto":
        try:
            converter = build(pdf_bytes)
        except JobError as e:
            first_error = e
        else:
            read = pages_read_as_text(converter.pdfdoc)
            doc = converter.pdfdoc.doc
            # Only the pages the model read nothing on are loaded again.
            if all(n in read or has_text(doc[n]) for n in range(doc.page_count)):
                return Prepared(converter, pdf_bytes, [], 0.0)
    start = time.perf_counter()
    pdf, warnings = for_job(pdf_bytes, name, mode, jobs, progress, first_page)
    seconds = time.perf_counter() - start
    if first_error is not None and pdf is pdf_bytes:
        raise first_error  # nothing was read: the PDF stays what could not be built
    return Prepared(build(pdf), pdf, warnings, seconds)


def page_progress(prog, name, quiet=False):
    """A ``progress`` for ocr_document: says on standard error which pages are read, then a tqdm
    bar over them."""
    import sys

    from tqdm import tqdm

    def start(total):
        if quiet:
            return lambda: None
        print("%s: %s: %d page%s without text, reading %s with Tesseract (%s)"
              % (prog, name, total, "s" if total > 1 else "", "them" if total > 1 else "it",
                 LANGUAGE), file=sys.stderr, flush=True)
        bar = tqdm(total=total, unit="page", disable=None, file=sys.stderr, leave=False)

        def step():
            bar.update()
            if bar.n >= total:
                bar.close()
        return step
    return start
