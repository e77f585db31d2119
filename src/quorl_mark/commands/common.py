"""What every command shares: one-line errors, exit statuses and the package version."""
import argparse
import sys

from ..errors import JobError, one_line
from ..inputs import MAX_INPUT_BYTES, MisplacedInput, megabytes

# The resolution page images may be drawn at: below it nothing is legible, above it one page of
# A4 is some 200 million pixels.
DPI_RANGE = (10, 1200)

INPUT_LIMITS = ("Every input must be a regular file or a pipe (not a device or a directory) of at "
                "most %s for a PDF and %s for an HTML or a marks file."
                % (megabytes(MAX_INPUT_BYTES["pdf"]), megabytes(MAX_INPUT_BYTES["html"])))


def path_value(text):
    """An argparse type: a path, refused when empty."""
    if not text:
        raise argparse.ArgumentTypeError("an empty path names no file")
    return text


def dpi_value(text):
    """An argparse type: a resolution within DPI_RANGE."""
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError("%r is not a whole number" % text) from None
    if not DPI_RANGE[0] <= value <= DPI_RANGE[1]:
        raise argparse.ArgumentTypeError("%d is outside %d to %d" % ((value,) + DPI_RANGE))
    return value


def version():
    try:
        from importlib.metadata import version as installed_version

        return installed_version("quorl")
    except Exception:  # not installed as a distribution (a source tree on sys.path)
        return "unknown"


def add_standard_options(parser, quiet="print no summary on success"):
    """-v, -q and --version, as every command has them; ``quiet`` says what -q silences."""
    parser.add_argument("-v", "--verbose", action="store_true",
                        help="show the quorl module's own diagnostics on standard error")
    parser.add_argument("-q", "--quiet", action="store_true", help=quiet)
    parser.add_argument("--version", action="version", version="%(prog)s " + version())


def add_page_options(parser, images):
    """--dpi of the page images ``images`` names, and --ocr."""
    parser.add_argument("--dpi", type=dpi_value, default=100,
                        help="resolution of %s, %d to %d (default: %%(default)s)"
                             % ((images,) + DPI_RANGE))
    parser.add_argument("--ocr", choices=("auto", "always", "never"), default="auto",
                        help="read scanned pages with Tesseract OCR first: auto reads the pages "
                             "that carry no text at all, always every page (replacing the text "
                             "it has), never none (default: %(default)s); the marked PDF keeps "
                             "the text layer")


def add_patent_inputs(parser, pdf_metavar, pdf_help):
    """The HTML and PDF arguments every per-patent command starts with."""
    parser.add_argument("html", metavar="PATENT.html", type=path_value,
                        help="the patent's full-text HTML")
    parser.add_argument("pdf", metavar=pdf_metavar, type=path_value, help=pdf_help)


def add_allow_mismatch(parser, doing):
    """--allow-mismatch; ``doing`` says what the command then does anyway ("mark")."""
    parser.add_argument("--allow-mismatch", action="store_true",
                        help="%s even when the HTML and the PDF do not seem to be the same "
                             "publication" % doing)


def add_skip_unplaced(parser):
    """--skip-unplaced, as quorl-mark and quorl-batch have it."""
    parser.add_argument("--skip-unplaced", action="store_true",
                        help="draw the marks that can be placed and leave out, with a warning "
                             "each, those that cannot (text only the HTML has); --marks-out "
                             "keeps them with empty pdflines and rects and a reason. Without "
                             "it, one mark that cannot be placed fails the patent")


def run(prog, work, usage_order=None):
    """Runs ``work()``: 0 when it returns, 1 with "prog: error: ..." on standard error when an
    input or output cannot be used, 130 on Ctrl-C. Never a traceback."""
    try:
        work()
    except MisplacedInput as e:
        hint = "; the order is %s" % usage_order if usage_order else ""
        print("%s: error: %s%s" % (prog, e, hint), file=sys.stderr)
        return 1
    except JobError as e:
        print("%s: error: %s" % (prog, e), file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("%s: interrupted" % prog, file=sys.stderr)
        return 130
    except MemoryError:
        print("%s: error: out of memory" % prog, file=sys.stderr)
        return 1
    except Exception as e:  # a fault of quorl itself: still one line, never a traceback
        print("%s: error: unexpected failure: %s" % (prog, one_line(e)), file=sys.stderr)
        return 1
    return 0
