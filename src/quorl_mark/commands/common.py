"""What every command shares: one-line errors, exit statuses and the package version."""
import sys

from ..errors import JobError, one_line
from ..inputs import MisplacedInput


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
    parser.add_argument("--dpi", type=int, default=100,
                        help="resolution of %s (default: %%(default)s)" % images)
    parser.add_argument("--ocr", choices=("auto", "always", "never"), default="auto",
                        help="read scanned pages with Tesseract OCR first: auto reads the pages "
                             "that carry no text at all, always every page (replacing the text "
                             "it has), never none (default: %(default)s); the marked PDF keeps "
                             "the text layer")


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
