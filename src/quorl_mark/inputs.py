"""Reading a patent's three inputs: the full-text HTML (decoded whatever its encoding), the PDF
bytes and the mark records, each checked and refused with a JobError naming the file; and the
PDF opened with PyMuPDF as every part that reads it opens it (open_pdf)."""
import codecs
import json
import math
import os
import re
import stat

from .diagnostics import new_pdf_library_reports
from .errors import JobError, one_line
from .vocabulary import ALIASES, MARK_TYPES, SECTIONS, drawn_type

# The largest file each input may be, in bytes: far above any patent's (a 60-page publication
# with drawings is some 10 MB), low enough that a device or a wrong file given by mistake is
# refused before it fills the memory. The commands' --help states them.
MAX_INPUT_BYTES = {"html": 64_000_000, "pdf": 512_000_000, "json": 64_000_000}
# The most mark records a marks file may hold: a thousand times what a patent is usually given,
# drawn in about a minute (bench/bench_many_marks.py). Refused before any record is checked.
MAX_MARKS = 100_000

# Byte order marks, longest first: a UTF-32 mark begins with the UTF-16 one.
_BOMS = ((codecs.BOM_UTF32_LE, "utf-32-le"), (codecs.BOM_UTF32_BE, "utf-32-be"),
         (codecs.BOM_UTF8, "utf-8"), (codecs.BOM_UTF16_LE, "utf-16-le"),
         (codecs.BOM_UTF16_BE, "utf-16-be"))
# <meta charset="x"> and <meta http-equiv="Content-Type" content="text/html; charset=x">.
_META_CHARSET = re.compile(rb"<meta\b[^>]*?charset\s*=\s*[\"']?\s*([A-Za-z0-9_:.\-]+)", re.I)
# Chinese pages declare GB2312 or GBK and often hold characters only GB18030 has.
_WIDER = {"gb2312": "gb18030", "gbk": "gb18030"}


class MisplacedInput(JobError):
    """An input whose content is of another of the three kinds: the arguments are out of order."""


def kind_of_file(mode):
    """What a file that is not a regular file is, in words."""
    for test, name in ((stat.S_ISDIR, "a directory"), (stat.S_ISCHR, "a character device"),
                       (stat.S_ISBLK, "a block device"), (stat.S_ISFIFO, "a FIFO (a pipe)"),
                       (stat.S_ISSOCK, "a socket")):
        if test(mode):
            return name
    return "not a regular file"


def megabytes(size):
    return "%g MB" % (size / 1e6)


def read_bytes(path, limit=None):
    """The content of the regular file or pipe ``path``, refused when it is anything else (a
    device, a directory, a socket) or larger than ``limit`` bytes. A pipe (a FIFO, or the
    /dev/fd/N a shell's process substitution gives) is read to its end, never past the limit."""
    try:
        mode = os.stat(path).st_mode
    except FileNotFoundError:
        raise JobError(path, "read", "no such file") from None
    except OSError as e:
        raise JobError(path, "read", "cannot read it: %s" % (e.strerror or e)) from None
    if stat.S_ISDIR(mode):
        raise JobError(path, "read", "is a directory, not a file")
    pipe = stat.S_ISFIFO(mode)
    if not (stat.S_ISREG(mode) or pipe):
        raise JobError(path, "read", "is %s, not a regular file or a pipe" % kind_of_file(mode))
    try:
        # A regular file is opened non-blocking, so that a FIFO put in its place after the check
        # is seen for what it is below rather than waited on.
        flags = os.O_RDONLY | getattr(os, "O_CLOEXEC", 0) | (0 if pipe else os.O_NONBLOCK)
        fd = os.open(path, flags)
    except OSError as e:
        raise JobError(path, "read", "cannot read it: %s" % (e.strerror or e)) from None
    with os.fdopen(fd, "rb") as f:
        try:
            found = os.fstat(fd)
            if stat.S_ISREG(found.st_mode) == pipe:
                raise JobError(path, "read", "was replaced by %s while it was opened"
                               % kind_of_file(found.st_mode))
            if limit is not None and found.st_size > limit:
                raise JobError(path, "read", "is %s, larger than the %s an input of its kind "
                               "may be" % (megabytes(found.st_size), megabytes(limit)))
            data = f.read() if limit is None else f.read(limit + 1)
        except OSError as e:
            raise JobError(path, "read", "cannot read it: %s" % (e.strerror or e)) from None
    if limit is not None and len(data) > limit:
        raise JobError(path, "read", "grew beyond the %s an input of its kind may be while it "
                       "was read" % megabytes(limit))
    return data


def content_kind(data):
    """"pdf", "json", "html" or None, judged from the first bytes as a person would."""
    head = data[:1024]
    if b"%PDF-" in head:
        return "pdf"
    for bom, _ in _BOMS:
        if head.startswith(bom):
            head = head[len(bom):]
            break
    stripped = head.lstrip()
    if stripped[:1] in (b"[", b"{"):
        return "json"
    if re.match(rb"<(!doctype\s+html|html|head|body|div|meta|h1|!--)", stripped, re.I):
        return "html"
    return None


_KIND_NAMES = {"pdf": "a PDF file", "json": "a JSON file", "html": "an HTML page"}
_EXPECTED = {"html": "the patent's HTML", "pdf": "the patent's PDF", "json": "the marks (JSON)"}


def refuse_misplaced(path, data, expected):
    kind = content_kind(data)
    if kind is not None and kind != expected:
        raise MisplacedInput(path, "read", "%s, given where %s is expected"
                             % (_KIND_NAMES[kind], _EXPECTED[expected]))


def declared_charset(data):
    match = _META_CHARSET.search(data[:4096])
    if not match:
        return None
    name = match.group(1).decode("ascii").lower()
    try:
        name = codecs.lookup(name).name
    except LookupError:
        return None
    return _WIDER.get(name, name)


def decode_html(data, path):
    """The HTML as text: a byte order mark decides; else bytes that are valid UTF-8 are UTF-8;
    else the charset a <meta> declares; else the encoding charset-normalizer detects."""
    for bom, encoding in _BOMS:
        if data.startswith(bom):
            try:
                return data[len(bom):].decode(encoding)
            except UnicodeDecodeError as e:
                raise JobError(path, "read", "not %s text although it starts with that byte "
                               "order mark (byte %d)" % (encoding.upper(), e.start + len(bom)))
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as e:
        first_bad = e.start
    declared = declared_charset(data)
    if declared:
        try:
            return data.decode(declared)
        except UnicodeDecodeError:
            pass
    import charset_normalizer

    best = charset_normalizer.from_bytes(data).best()
    if best is not None and best.encoding:
        return str(best)
    raise JobError(path, "read", "not UTF-8 text (byte %d)%s, and no encoding could be detected"
                   % (first_bad, ", nor %s as its <meta> declares" % declared if declared else ""))


def read_html(path):
    data = read_bytes(path, MAX_INPUT_BYTES["html"])
    refuse_misplaced(path, data, "html")
    return decode_html(data, path)


def read_pdf(path):
    data = read_bytes(path, MAX_INPUT_BYTES["pdf"])
    refuse_misplaced(path, data, "pdf")
    return data


def damaged_pdf(pdf_name, reported=(), repaired=False):
    """The JobError of a damaged PDF: MuPDF had to repair it, or ``reported`` these lines while
    reading it."""
    reasons = ["its cross-reference table had to be rebuilt"] if repaired else []
    # MuPDF's own "... repeated N times..." lines say nothing about the damage.
    distinct = list(dict.fromkeys(_shortened(line, 100) for line in reported
                                  if not line.startswith("... repeated")))
    if distinct:
        shown = "; ".join(distinct[:3])
        if len(distinct) > 3:
            shown += "; and %d more" % (len(distinct) - 3)
        reasons.append("MuPDF reported while reading it: %s" % shown)
    return JobError(pdf_name, "pdf", "the PDF is damaged (truncated or corrupt): %s"
                    % "; ".join(reasons or ["it cannot be read"]))


def open_pdf(fitz, pdf_bytes, pdf_name, read_pages=True):
    """The PyMuPDF document, refused when it is not a PDF, encrypted, empty or damaged; with
    ``read_pages`` false the pages' contents are not read beforehand, and the caller turns a
    failure on a damaged page into its own error. Anything MuPDF reports while opening it and
    reading its pages makes it damaged."""
    new_pdf_library_reports()  # reported before: not this file's
    try:
        pdffile = fitz.open("pdf", pdf_bytes)
    except Exception as e:
        raise JobError(pdf_name, "pdf", "not a PDF file: %s" % one_line(e)) from None
    if pdffile.needs_pass:
        raise JobError(pdf_name, "pdf", "the PDF is encrypted")
    if pdffile.page_count == 0:
        raise JobError(pdf_name, "pdf", "the PDF has no pages")
    if getattr(pdffile, "is_repaired", False):
        raise damaged_pdf(pdf_name, new_pdf_library_reports(), repaired=True)
    if not read_pages:
        return pdffile
    try:
        for page in pdffile:
            for xref in page.get_contents():
                pdffile.xref_stream(xref)
    except Exception as e:
        raise JobError(pdf_name, "pdf", "the PDF is damaged: page %d cannot be read (%s)"
                       % (page.number + 1, one_line(e))) from None
    reported = new_pdf_library_reports()
    if reported or getattr(pdffile, "is_repaired", False):
        raise damaged_pdf(pdf_name, reported, pdffile.is_repaired)
    return pdffile


def _shortened(text, limit=40):
    return text if len(text) <= limit else text[:limit - 5] + "…" + text[-4:]


def describe(index, mark):
    """"mark N (type 'par', title '1', start 5, end 9)" for messages."""
    parts = ["mark %d" % (index + 1)]
    if isinstance(mark, dict):
        details = ["%s %s" % (k, _shortened(repr(mark[k]))) for k in ("type", "title")
                   if k in mark]
        details += ["%s %s" % (k, mark[k]) for k in ("start", "end") if k in mark]
        if "text" in mark and "start" not in mark:
            details.append("text %s" % _shortened(repr(mark["text"])))
        if details:
            parts.append("(%s)" % ", ".join(details))
    return " ".join(parts)


def _is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


# Characters a mark's text may not hold: NUL ends the text MuPDF draws (the label comes out
# empty), and a lone surrogate is no character at all (it cannot be written into the PDF or
# as UTF-8).
_FORBIDDEN = re.compile("[\x00\ud800-\udfff]")
# One field of an imagenote region: the whole number the image markers read, ASCII digits only.
_REGION_FIELD = re.compile(r"\s*[+-]?[0-9]+\s*\Z")
IMAGENOTE = "imagenote"
# Mark types whose label an imagenote hint moves.
IMAGENOTE_TYPES = ("imgpar", "imgig")


def _values(mark):
    """(field name, value) of every value in a mark record, nested ones named by their path."""
    stack = [(str(key), value) for key, value in reversed(list(mark.items()))]
    while stack:
        name, value = stack.pop()
        yield name, value
        if isinstance(value, dict):
            stack.extend(("%s.%s" % (name, key), item)
                         for key, item in reversed(list(value.items())))
        elif isinstance(value, list):
            stack.extend(("%s[%d]" % (name, i), item)
                         for i, item in reversed(list(enumerate(value))))


def _text_problem(text):
    found = _FORBIDDEN.search(text)
    if not found:
        return None
    char = found.group()
    if char == "\x00":
        return "holds a NUL character at position %d" % found.start()
    return ("holds a lone surrogate (U+%04X) at position %d, which is no character"
            % (ord(char), found.start()))


def imagenote_region(info):
    """(x, y, w, h) of an imagenote hint, in thousandths of the marked area, read as the image
    markers read it (the fields after the first "#", up to "$"); ValueError says what is wrong
    in words, also for values that would put the label outside the marked area."""
    fields = info.split("#")
    if len(fields) < 2:
        raise ValueError('"imagenote" needs its region after a "#": imagenote#x,y,w,h$')
    values = fields[1].split("$")[0].split(",")
    if len(values) < 4:
        raise ValueError("imagenote needs four whole numbers x,y,w,h (thousandths of the marked "
                         "area), found %d field%s" % (len(values), "" if len(values) == 1 else "s"))
    region = []
    for name, text in zip("xywh", values):
        if not _REGION_FIELD.match(text):
            raise ValueError("imagenote %s is %s, not a whole number"
                             % (name, json.dumps(text.strip(), ensure_ascii=False)))
        number = int(text)
        if not 0 <= number <= 1000:
            raise ValueError("imagenote %s is %d; x, y, w and h are thousandths of the marked "
                             "area, from 0 to 1000" % (name, number))
        region.append(number)
    x, y, w, h = region
    for start, size, names in ((x, w, "x + w"), (y, h, "y + h")):
        if start + size > 1000:
            raise ValueError("imagenote %s is %d, so the label's region reaches beyond the "
                             "marked area (at most 1000)" % (names, start + size))
    return tuple(region)


# The keys of a mark record quorl reads: the mark itself; the phrase a mark may name instead of
# its offsets and where to look for it (as a W3C TextQuoteSelector does); what --marks-out adds,
# so that its file can be given again; what quorl-extract adds to describe an annotation. Any
# other key is ignored, with a warning, since a user who writes "color" expects it to count.
MARK_KEYS = ("start", "end", "type", "title", "content", "info",
             "text", "prefix", "suffix", "occurrence", "section", "all",
             "pdflines", "rects", "reason",
             "source", "annotation", "page", "author", "pdf_text", "html_text", "exact", "note")


def unknown_keys(marks, path):
    """One warning per key of the records that MARK_KEYS does not hold, naming the first mark
    that has it and how many others do."""
    found = {}
    for index, mark in enumerate(marks):
        for key in mark:
            if key not in MARK_KEYS:
                found.setdefault(key, []).append(index)
    warnings = []
    for key, indexes in found.items():
        others = len(indexes) - 1
        warnings.append("%s: %s has the key %s, which quorl does not read (ignored%s); "
                        "docs/input-formats.md lists the keys of a mark record"
                        % (path, describe(indexes[0], marks[indexes[0]]),
                           json.dumps(key, ensure_ascii=False),
                           ", as in %d other mark%s" % (others, "s"[:others > 1])
                           if others else ""))
    return warnings


# What a record given by its text ("text" instead of "start" and "end") may leave out: a plain
# highlight.
PHRASE_DEFAULTS = {"type": "cth", "title": "", "content": ""}
SECTION_IDS = tuple(section for section, _ in SECTIONS)


def _phrase_problem(mark):
    """What is wrong with the fields that find a record's text, or None."""
    for key in ("text", "prefix", "suffix"):
        if key in mark and not isinstance(mark[key], str):
            return "%s must be a string" % key
    if not mark["text"].replace("\r", "").replace("\n", ""):
        return "text is empty"
    if "occurrence" in mark and not (_is_int(mark["occurrence"]) and mark["occurrence"] >= 1):
        return "occurrence must be a whole number from 1 (the first occurrence)"
    if "section" in mark and mark["section"] not in SECTION_IDS:
        return "section must be one of %s" % ", ".join(SECTION_IDS)
    if "all" in mark and not isinstance(mark["all"], bool):
        return "all must be true or false"
    if mark.get("all") and "occurrence" in mark:
        return "give either occurrence or all, not both"
    return None


def check_mark(index, mark, path):
    """Raises a JobError naming the mark and the field when the record is not one that can be
    drawn and written back as it was given."""
    def fail(reason):
        raise JobError(path, "read", "%s: %s" % (describe(index, mark), reason))

    if not isinstance(mark, dict):
        fail("not a JSON object but %s" % type(mark).__name__)
    by_text = "text" in mark and "start" not in mark and "end" not in mark
    if by_text:
        for key, value in PHRASE_DEFAULTS.items():
            mark.setdefault(key, value)
        problem = _phrase_problem(mark)
        if problem:
            fail(problem)
    for key in ("type", "title", "content") if by_text else ("start", "end", "type", "title",
                                                             "content"):
        if key not in mark:
            fail("the key %r is missing" % key)
    for name, value in _values(mark):
        if isinstance(value, float) and not math.isfinite(value):
            fail("%s is %s, which is not a number JSON can hold"
                 % (name, "NaN" if math.isnan(value) else "%sInfinity" % "-"[:value < 0]))
        if isinstance(value, str) and _text_problem(value):
            fail("%s %s" % (name, _text_problem(value)))
    for key in () if by_text else ("start", "end"):
        if not _is_int(mark[key]):
            fail("%s must be an integer, not %s" % (key, json.dumps(mark[key], ensure_ascii=False)))
    if not by_text and mark["start"] < 0:
        fail("start must not be negative")
    if not by_text and mark["start"] > mark["end"]:
        fail("start is after end")
    if not by_text and mark["start"] == mark["end"]:
        fail("the mark is empty (start equals end)")
    if not isinstance(mark["type"], str) or drawn_type(mark["type"]) not in MARK_TYPES:
        fail("type must be one of %s or %s" % (", ".join(MARK_TYPES), ", ".join(ALIASES)))
    if not isinstance(mark["title"], (str, int, float)) or isinstance(mark["title"], bool):
        fail("title must be a string or a number")
    if not isinstance(mark["content"], str):
        fail("content must be a string")
    if "info" in mark and not isinstance(mark["info"], str):
        fail("info must be a string")
    if drawn_type(mark["type"]) in IMAGENOTE_TYPES and IMAGENOTE in mark.get("info", ""):
        try:
            imagenote_region(mark["info"])
        except ValueError as e:
            fail("info: %s" % e)


def label_box(mark, rect):
    """(x0, y0, x1, y1) of the label the markers draw for ``mark`` whose first line or figure
    has the box ``rect``, or None for a mark without a label of its own (cth, flag). The
    markers' own geometry: a number label is 2 points per character of the title plus 5 on
    each side, a content label 3 points per character."""
    kind = drawn_type(mark["type"])
    x0, y0, x1, y1 = rect
    if kind == "par":
        centre, half = (x0 + x1) / 2, 2 * len(str(mark["title"])) + 5
        return (centre - half, y0 - 8, centre + half, y0)
    if kind not in IMAGENOTE_TYPES:
        return None
    if IMAGENOTE not in mark.get("info", ""):
        return tuple(rect)
    x, y, w, h = (v / 1000 for v in imagenote_region(mark["info"]))
    left, top = x0 + (x1 - x0) * x, y0 + (y1 - y0) * y
    if kind == "imgpar":
        right, bottom = left + max((x1 - x0) * w, 8), top + max((y1 - y0) * h, 15)
        half = 2 * len(str(mark["title"])) + 5
    else:
        right, bottom = left + (x1 - x0) * w, top + 15
        half = 3 * len(mark["content"]) + 5
    return (right - half, top, right + half, bottom)


def label_off_page(mark, rect, page_width, page_height):
    """Why the label of ``mark`` (see label_box) would not stand on its page, or None."""
    box = label_box(mark, rect)
    if box is None:
        return None
    x0, y0, x1, y1 = box
    if x0 >= 0 and y0 >= 0 and x1 <= page_width and y1 <= page_height:
        return None
    shown = "content" if drawn_type(mark["type"]) == "imgig" else "title"
    hint = "a shorter %s" % shown
    if drawn_type(mark["type"]) in IMAGENOTE_TYPES:
        hint += ' or an "imagenote#x,y,w,h$" info that moves the label'
    return ("its %s label would reach from x %.0f to %.0f, y %.0f to %.0f, beyond its page "
            "(%.0f by %.0f points); give it %s" % (shown, x0, x1, y0, y1, page_width,
                                                   page_height, hint))


def refuse_too_many(marks, path):
    if len(marks) > MAX_MARKS:
        raise JobError(path, "read", "holds {:,} marks, more than the {:,} a marks file may "
                       "hold; split it into several files and mark one after the other"
                       .format(len(marks), MAX_MARKS))
    return marks


def parse_marks(data, path):
    try:
        marks = json.loads(data.decode("utf-8-sig"))
    except UnicodeDecodeError as e:
        raise JobError(path, "read", "not UTF-8 text (byte %d)" % e.start) from None
    except json.JSONDecodeError as e:
        raise JobError(path, "read", "malformed JSON: %s (line %d, column %d)"
                       % (e.msg, e.lineno, e.colno)) from None
    except RecursionError:
        raise JobError(path, "read", "its JSON is nested too deeply to read (a list of mark "
                       "records nests two levels)") from None
    except ValueError as e:  # an integer of thousands of digits
        raise JobError(path, "read", "malformed JSON: %s" % one_line(e).split(";")[0]) from None
    from .anchoring import web_annotations

    if web_annotations.is_web_annotation(marks):
        return refuse_too_many(web_annotations.marks_of(marks, path), path)
    if not isinstance(marks, list):
        raise JobError(path, "read", "expected a JSON list of mark records, found %s (W3C Web "
                       "Annotations are read too: an object whose type is Annotation, "
                       "AnnotationPage or AnnotationCollection)" % type(marks).__name__)
    refuse_too_many(marks, path)
    for index, mark in enumerate(marks):
        check_mark(index, mark, path)
    return marks


def read_marks(path):
    data = read_bytes(path, MAX_INPUT_BYTES["json"])
    refuse_misplaced(path, data, "json")
    return parse_marks(data, path)
