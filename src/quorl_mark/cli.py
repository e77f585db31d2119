"""The quorl-mark command: marks given as character spans of a patent's full-text HTML are drawn
as highlight and label annotations onto the patent's published PDF.

Every output is built in memory first and then written through a temporary file that replaces
the target in one step, so a failure never leaves a half-written file behind. The quorl module
reports its progress on standard output and through the root logger; the command keeps both
away from its own output (they go to standard error with --verbose, nowhere otherwise).
"""
import argparse
import contextlib
import html
import io
import json
import logging
import os
import sys
import tempfile

PROG = "quorl-mark"
MARK_KINDS = ("par", "cth", "imgpar", "imgig", "flag")
MARKERS = {"par": "PARMarker", "cth": "CTHMarker", "imgpar": "ImgPARMarker",
           "imgig": "ImgIGMarker", "flag": "FlagMarker"}
# HTML section id -> PDF page kind, the pairs the converter aligns.
SECTIONS = (("cn-bibliographic-info", "abstract"), ("claims", "claims"),
            ("description", "descriptions"), ("drawings", "drawings"))

DESCRIPTION = """\
Draws marks onto a Chinese invention patent's PDF. Each mark is given against the text of the
patent's full-text HTML; the HTML and the PDF are aligned character by character, and every mark
becomes highlight and label annotations on the PDF lines it covers."""

EPILOG = """\
MARKS.json holds a list of mark records, for example:

  [{"start": 3705, "end": 3710, "type": "par", "title": "1", "content": "hello"},
   {"start": 4120, "end": 4188, "type": "par", "title": "2", "content": "as claim 1",
    "info": "EQUAL"}]

  start, end  character positions in the HTML document text (end exclusive)
  type        par (highlight and number label), cth (highlight), imgpar (number label),
              imgig (content label), flag (flag at the page margin) or equal (drawn as par)
  title       the number a label shows
  content     the text stored in the annotations (and shown by imgig and flag labels)
  info        optional hints: "EQUAL" labels a par mark as a duplicate ("=" and the title);
              "imagenote#x,y,w,h$" places an imgpar or imgig label inside the marked area,
              in thousandths of its width and height

The HTML document text is the text of the HTML with its newline characters removed first.

Exit status: 0 on success, 1 when an input cannot be used or a mark cannot be placed, 2 for
wrong arguments. Outputs are written only when every mark has been placed."""


class CommandError(Exception):
    """An error reported to the user as one line, without a traceback."""


def build_parser():
    parser = argparse.ArgumentParser(
        prog=PROG, description=DESCRIPTION, epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("html", metavar="PATENT.html", help="the patent's full-text HTML")
    parser.add_argument("pdf", metavar="PATENT.pdf", help="the patent's published PDF")
    parser.add_argument("marks", metavar="MARKS.json",
                        help="the marks to draw, a JSON list of mark records (see below)")
    parser.add_argument("-o", "--output", metavar="OUT.pdf", required=True,
                        help="where to write the marked PDF")
    parser.add_argument("--marks-out", metavar="FILE.json",
                        help="also write the marks with the PDF lines each covers (pdflines: "
                             "[line, [from, to]] pairs over the PDF text's lines)")
    parser.add_argument("--diff-view", metavar="DIR",
                        help="also write an HTML view of the differences between the HTML and "
                             "the PDF text of each section into DIR (index.html links them)")
    parser.add_argument("--preview", metavar="DIR",
                        help="also write a PNG image of every marked page into DIR")
    parser.add_argument("--dpi", type=int, default=100,
                        help="resolution of the previews (default: %(default)s)")
    parser.add_argument("-v", "--verbose", action="store_true",
                        help="show the quorl module's own diagnostics on standard error")
    parser.add_argument("-q", "--quiet", action="store_true",
                        help="print nothing on success")
    return parser


# ---------------------------------------------------------------------------------------------
# Inputs


def read_bytes(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        raise CommandError("%s: no such file" % path) from None
    except IsADirectoryError:
        raise CommandError("%s: is a directory, not a file" % path) from None
    except OSError as e:
        raise CommandError("%s: cannot read it: %s" % (path, e.strerror or e)) from None


def read_html(path):
    data = read_bytes(path)
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError as e:
        raise CommandError("%s: not UTF-8 text (byte %d)" % (path, e.start)) from None


def describe(index, mark):
    parts = ["mark %d" % (index + 1)]
    if isinstance(mark, dict):
        details = ["%s %r" % (k, mark[k]) for k in ("type", "title") if k in mark]
        details += ["%s %s" % (k, mark[k]) for k in ("start", "end") if k in mark]
        if details:
            parts.append("(%s)" % ", ".join(details))
    return " ".join(parts)


def is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def check_mark(index, mark, path):
    """Raises CommandError naming the mark when the record is not one the command can draw."""
    def fail(reason):
        raise CommandError("%s: %s: %s" % (path, describe(index, mark), reason))

    if not isinstance(mark, dict):
        fail("not a JSON object but %s" % type(mark).__name__)
    for key in ("start", "end", "type", "title", "content"):
        if key not in mark:
            fail("the key %r is missing" % key)
    for key in ("start", "end"):
        if not is_int(mark[key]):
            fail("%s must be an integer, not %s" % (key, json.dumps(mark[key], ensure_ascii=False)))
    if mark["start"] < 0:
        fail("start must not be negative")
    if mark["start"] > mark["end"]:
        fail("start is after end")
    if mark["start"] == mark["end"]:
        fail("the mark is empty (start equals end)")
    if not isinstance(mark["type"], str) or mark["type"].replace("equal", "par") not in MARK_KINDS:
        fail("type must be one of %s or equal" % ", ".join(MARK_KINDS))
    if not isinstance(mark["title"], (str, int, float)) or isinstance(mark["title"], bool):
        fail("title must be a string or a number")
    if not isinstance(mark["content"], str):
        fail("content must be a string")
    if "info" in mark and not isinstance(mark["info"], str):
        fail("info must be a string")


def read_marks(path):
    data = read_bytes(path)
    try:
        marks = json.loads(data.decode("utf-8-sig"))
    except UnicodeDecodeError as e:
        raise CommandError("%s: not UTF-8 text (byte %d)" % (path, e.start)) from None
    except json.JSONDecodeError as e:
        raise CommandError("%s: malformed JSON: %s (line %d, column %d)"
                           % (path, e.msg, e.lineno, e.colno)) from None
    if not isinstance(marks, list):
        raise CommandError("%s: expected a JSON list of mark records, found %s"
                           % (path, type(marks).__name__))
    for index, mark in enumerate(marks):
        check_mark(index, mark, path)
    return marks


# ---------------------------------------------------------------------------------------------
# Work


def one_line(error):
    text = " ".join(str(error).split())
    return "%s: %s" % (type(error).__name__, text) if text else type(error).__name__


def load_patent(quorl, html_path, html_text, pdf_path, pdf_bytes):
    """The converter, built as get_patent_converter builds it, one document at a time, so that
    a failure names the file it comes from."""
    try:
        htmldoc = quorl.HtmlDocument(html_text, parserlist=[{"name": ["img", "div", "h2"]}])
    except Exception as e:
        raise CommandError("%s: cannot read it as HTML: %s" % (html_path, one_line(e))) from None
    if not any(htmldoc.infodict.get(section) for section, _ in SECTIONS):
        raise CommandError("%s: not a patent's full text: none of the sections %s is there"
                           % (html_path, ", ".join(s for s, _ in SECTIONS)))
    try:
        pdffile = quorl.fitz.open("pdf", pdf_bytes)
    except Exception as e:
        raise CommandError("%s: not a PDF file: %s" % (pdf_path, one_line(e))) from None
    if pdffile.needs_pass:
        raise CommandError("%s: the PDF is encrypted" % pdf_path)
    if pdffile.page_count == 0:
        raise CommandError("%s: the PDF has no pages" % pdf_path)
    markerdict = {kind: getattr(quorl, name) for kind, name in MARKERS.items()}
    try:
        pdfdoc = quorl.PdfDocument(pdffile, markerdict=markerdict)
    except Exception as e:
        raise CommandError("%s: not a patent publication laid out as expected (%s)"
                           % (pdf_path, one_line(e))) from None
    if not pdfdoc.text:
        raise CommandError("%s: no text found in the patent's text regions (a scanned PDF?)"
                           % pdf_path)
    try:
        return quorl.PatentConverter(htmldoc, pdfdoc)
    except Exception as e:
        raise CommandError("cannot align %s with %s: %s"
                           % (html_path, pdf_path, one_line(e))) from None


def place_marks(converter, marks, marks_path):
    """Converts and draws every mark; returns the marked PDF bytes."""
    text_length = len(converter.htmldoc.text)
    for index, mark in enumerate(marks):
        def fail(reason):
            raise CommandError("%s: %s cannot be placed: %s"
                               % (marks_path, describe(index, mark), reason))

        if mark["end"] > text_length:
            fail("it ends beyond the HTML text, which has %d characters" % text_length)
        try:
            converter.convert_mark_html2pdf(mark)
        except IndexError:
            fail("no part of it is aligned with the PDF text")
        if not mark["pdflines"]:
            fail("it covers no PDF text")
    for index, mark in enumerate(marks):
        try:
            converter.pdfdoc.make_mark(mark)
        except Exception as e:
            raise CommandError("%s: %s cannot be drawn: %s"
                               % (marks_path, describe(index, mark), one_line(e))) from None
    return converter.mark_pdf([])


def marks_json(marks):
    converted = []
    for mark in marks:
        record = dict(mark)
        record["pdflines"] = [[line, list(within)] for line, within in mark["pdflines"]]
        converted.append(record)
    return (json.dumps(converted, ensure_ascii=False, indent=2) + "\n").encode("utf-8")


# Characters the view must not show raw, stood in for by single private-use characters while
# the texts are aligned, so that the alignment is the one of the texts themselves.
_SPECIAL = {"&": "&amp;", "<": "&lt;", ">": "&gt;"}


def escaped_view(quorl, html_text, pdf_text):
    used = set(html_text) | set(pdf_text)
    stand_ins = {}
    code = 0xE000
    for ch in _SPECIAL:
        while chr(code) in used:
            code += 1
        stand_ins[ch] = chr(code)
        code += 1
    table = str.maketrans(stand_ins)
    mapper = quorl.PositionMapper(html_text.translate(table), pdf_text.translate(table))
    view = mapper.getdiffviewtext()
    for ch, stand_in in stand_ins.items():
        view = view.replace(stand_in, _SPECIAL[ch])
    equal = sum(a2 - a1 for (a1, a2), _ in mapper.spandiff)
    return view, equal, len(mapper.a_text), len(mapper.b_text)


PAGE = """<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>{title}</title>
<style>body {{font-family: sans-serif; line-height: 1.8;}} .view {{white-space: pre-wrap;}}</style>
</head>
<body>
<h1>{title}</h1>
{body}
</body>
</html>
"""

LEGEND = ("<p>Text in both: plain. Only in the HTML: <span class=\"delete\">pink</span>; only in "
          "the PDF: <span class=\"insert\">green</span>; replaced: "
          "<span class=\"rdelete\">HTML</span><span class=\"rinsert\">PDF</span>.</p>")


def diff_views(quorl, converter, html_name, pdf_name):
    """File name -> bytes of the diff view pages and their index."""
    pages = {}
    rows = []
    for section, kind in SECTIONS:
        if not converter.htmldoc.infodict.get(section):
            rows.append("<li>%s: not in the HTML</li>" % section)
            continue
        view, equal, html_len, pdf_len = escaped_view(
            quorl, converter.htmldoc.get_text(section), converter.pdfdoc.get_text([kind]))
        name = section + ".html"
        title = "%s (HTML) and %s (PDF)" % (section, kind)
        stats = ("<p>%d of %d HTML characters and %d PDF characters are aligned.</p>"
                 % (equal, html_len, pdf_len))
        body = stats + LEGEND + "<div class=\"view\">" + view + "</div>"
        pages[name] = PAGE.format(title=html.escape(title), body=body).encode("utf-8")
        rows.append("<li><a href=\"%s\">%s</a>: %d of %d characters aligned</li>"
                    % (name, html.escape(title), equal, html_len))
    body = "<p>%s and %s, section by section.</p>\n<ul>\n%s\n</ul>" % (
        html.escape(html_name), html.escape(pdf_name), "\n".join(rows))
    pages["index.html"] = PAGE.format(title="Differences", body=body).encode("utf-8")
    return pages


def previews(fitz, pdf_bytes, dpi):
    """File name -> PNG bytes of every page that carries an annotation."""
    images = {}
    doc = fitz.open("pdf", pdf_bytes)
    try:
        for page in doc:
            if page.first_annot is None:
                continue
            images["page-%03d.png" % (page.number + 1)] = page.get_pixmap(dpi=dpi).tobytes("png")
    finally:
        doc.close()
    return images


# ---------------------------------------------------------------------------------------------
# Outputs


def current_umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


def write_atomically(path, data):
    directory = os.path.dirname(os.path.abspath(path))
    try:
        os.makedirs(directory, exist_ok=True)
        fd, temp = tempfile.mkstemp(prefix="." + os.path.basename(path) + ".", suffix=".part",
                                    dir=directory)
    except OSError as e:
        raise CommandError("%s: cannot write it: %s" % (path, e.strerror or e)) from None
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.chmod(temp, 0o666 & ~current_umask())
        os.replace(temp, path)
    except BaseException as e:
        with contextlib.suppress(OSError):
            os.unlink(temp)
        if isinstance(e, OSError):
            raise CommandError("%s: cannot write it: %s" % (path, e.strerror or e)) from None
        raise


def check_directory(path, option):
    if os.path.exists(path) and not os.path.isdir(path):
        raise CommandError("%s %s: exists and is not a directory" % (option, path))


def check_file_target(path, option):
    if os.path.isdir(path):
        raise CommandError("%s %s: is a directory" % (option, path))


class _Discard(io.TextIOBase):
    def writable(self):
        return True

    def write(self, text):
        return len(text)


@contextlib.contextmanager
def module_diagnostics(verbose):
    """Routes what the quorl module prints and logs: to standard error, or nowhere."""
    root = logging.getLogger()
    if verbose:
        handler = logging.StreamHandler(sys.stderr)
        handler.setFormatter(logging.Formatter("quorl: %(levelname)s: %(message)s"))
    else:
        handler = logging.NullHandler()
    saved_level = root.level
    root.addHandler(handler)
    root.setLevel(logging.WARNING if verbose else logging.CRITICAL + 1)
    try:
        with contextlib.redirect_stdout(sys.stderr if verbose else _Discard()):
            yield
    finally:
        root.removeHandler(handler)
        root.setLevel(saved_level)


def run(args):
    if not 10 <= args.dpi <= 1200:
        raise CommandError("--dpi must be between 10 and 1200")
    check_file_target(args.output, "-o")
    if args.marks_out:
        check_file_target(args.marks_out, "--marks-out")
        if os.path.abspath(args.marks_out) == os.path.abspath(args.output):
            raise CommandError("--marks-out %s: the same file as -o" % args.marks_out)
    for option, path in (("--diff-view", args.diff_view), ("--preview", args.preview)):
        if path:
            check_directory(path, option)

    html_text = read_html(args.html)
    pdf_bytes = read_bytes(args.pdf)
    marks = read_marks(args.marks)

    import quorl  # imported late: --help works even where the module cannot load

    outputs = []  # (path, bytes), written once everything has been built
    with module_diagnostics(args.verbose):
        converter = load_patent(quorl, args.html, html_text, args.pdf, pdf_bytes)
        marked = place_marks(converter, marks, args.marks)
        outputs.append((args.output, marked))
        if args.marks_out:
            outputs.append((args.marks_out, marks_json(marks)))
        if args.diff_view:
            for name, data in diff_views(quorl, converter, args.html, args.pdf).items():
                outputs.append((os.path.join(args.diff_view, name), data))
        if args.preview:
            for name, data in previews(quorl.fitz, marked, args.dpi).items():
                outputs.append((os.path.join(args.preview, name), data))

    for path, data in outputs:
        write_atomically(path, data)
    pages = {line["page"] for m in marks for line in
             (converter.pdfdoc.lines[no] for no, _ in m["pdflines"])}
    return ["%d marks on %d pages: %s" % (len(marks), len(pages), args.output)] + [
        "wrote %s" % path for path, _ in outputs[1:]]


def main(argv=None):
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        summary = run(args)
    except CommandError as e:
        print("%s: error: %s" % (PROG, e), file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("%s: interrupted" % PROG, file=sys.stderr)
        return 130
    except MemoryError:
        print("%s: error: out of memory" % PROG, file=sys.stderr)
        return 1
    except Exception as e:  # a fault of quorl itself: still one line, never a traceback
        print("%s: error: unexpected failure: %s" % (PROG, one_line(e)), file=sys.stderr)
        return 1
    if not args.quiet:
        for line in summary:
            print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
