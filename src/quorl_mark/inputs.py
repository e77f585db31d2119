"""Reading a patent's three inputs: the full-text HTML (decoded whatever its encoding), the PDF
bytes and the mark records, each checked and refused with a JobError naming the file; and the
PDF opened with PyMuPDF as every part that reads it opens it (open_pdf)."""
import codecs
import json
import re

from .errors import JobError, one_line
from .vocabulary import MARK_TYPES, drawn_type

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


def read_bytes(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        raise JobError(path, "read", "no such file") from None
    except IsADirectoryError:
        raise JobError(path, "read", "is a directory, not a file") from None
    except OSError as e:
        raise JobError(path, "read", "cannot read it: %s" % (e.strerror or e)) from None


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
    data = read_bytes(path)
    refuse_misplaced(path, data, "html")
    return decode_html(data, path)


def read_pdf(path):
    data = read_bytes(path)
    refuse_misplaced(path, data, "pdf")
    return data


def open_pdf(fitz, pdf_bytes, pdf_name, read_pages=True):
    """The PyMuPDF document, refused when it is not a PDF, encrypted, empty or damaged; with
    ``read_pages`` false the pages' contents are not read beforehand, and the caller turns a
    failure on a damaged page into its own error."""
    try:
        pdffile = fitz.open("pdf", pdf_bytes)
    except Exception as e:
        raise JobError(pdf_name, "pdf", "not a PDF file: %s" % one_line(e)) from None
    if pdffile.needs_pass:
        raise JobError(pdf_name, "pdf", "the PDF is encrypted")
    if pdffile.page_count == 0:
        raise JobError(pdf_name, "pdf", "the PDF has no pages")
    if getattr(pdffile, "is_repaired", False):
        raise JobError(pdf_name, "pdf", "the PDF is damaged (truncated or corrupt: its "
                       "cross-reference table had to be rebuilt)")
    if not read_pages:
        return pdffile
    try:
        for page in pdffile:
            for xref in page.get_contents():
                pdffile.xref_stream(xref)
    except Exception as e:
        raise JobError(pdf_name, "pdf", "the PDF is damaged: page %d cannot be read (%s)"
                       % (page.number + 1, one_line(e))) from None
    return pdffile


def describe(index, mark):
    """"mark N (type 'par', title '1', start 5, end 9)" for messages."""
    parts = ["mark %d" % (index + 1)]
    if isinstance(mark, dict):
        details = ["%s %r" % (k, mark[k]) for k in ("type", "title") if k in mark]
        details += ["%s %s" % (k, mark[k]) for k in ("start", "end") if k in mark]
        if details:
            parts.append("(%s)" % ", ".join(details))
    return " ".join(parts)


def _is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def check_mark(index, mark, path):
    """Raises a JobError naming the mark when the record is not one that can be drawn."""
    def fail(reason):
        raise JobError(path, "read", "%s: %s" % (describe(index, mark), reason))

    if not isinstance(mark, dict):
        fail("not a JSON object but %s" % type(mark).__name__)
    for key in ("start", "end", "type", "title", "content"):
        if key not in mark:
            fail("the key %r is missing" % key)
    for key in ("start", "end"):
        if not _is_int(mark[key]):
            fail("%s must be an integer, not %s" % (key, json.dumps(mark[key], ensure_ascii=False)))
    if mark["start"] < 0:
        fail("start must not be negative")
    if mark["start"] > mark["end"]:
        fail("start is after end")
    if mark["start"] == mark["end"]:
        fail("the mark is empty (start equals end)")
    if not isinstance(mark["type"], str) or drawn_type(mark["type"]) not in MARK_TYPES:
        fail("type must be one of %s or equal" % ", ".join(MARK_TYPES))
    if not isinstance(mark["title"], (str, int, float)) or isinstance(mark["title"], bool):
        fail("title must be a string or a number")
    if not isinstance(mark["content"], str):
        fail("content must be a string")
    if "info" in mark and not isinstance(mark["info"], str):
        fail("info must be a string")


def parse_marks(data, path):
    try:
        marks = json.loads(data.decode("utf-8-sig"))
    except UnicodeDecodeError as e:
        raise JobError(path, "read", "not UTF-8 text (byte %d)" % e.start) from None
    except json.JSONDecodeError as e:
        raise JobError(path, "read", "malformed JSON: %s (line %d, column %d)"
                       % (e.msg, e.lineno, e.colno)) from None
    if not isinstance(marks, list):
        raise JobError(path, "read", "expected a JSON list of mark records, found %s"
                       % type(marks).__name__)
    for index, mark in enumerate(marks):
        check_mark(index, mark, path)
    return marks


def read_marks(path):
    data = read_bytes(path)
    refuse_misplaced(path, data, "json")
    return parse_marks(data, path)
