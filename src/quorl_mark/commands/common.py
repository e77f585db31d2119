"""What every command shares: its argument parser, one-line errors, exit statuses and the package
version."""
import argparse
import difflib
import os
import re
import sys
import textwrap

from ..errors import JobError, one_line
from ..inputs import MAX_INPUT_BYTES, MAX_MARKS, MisplacedInput, megabytes

# The resolution page images may be drawn at: below it nothing is legible, above it one page of
# A4 is some 200 million pixels.
DPI_RANGE = (10, 1200)

INPUT_LIMITS = ("Every input must be a regular file or a pipe (not a device or a directory) of at "
                "most %s for a PDF and %s for an HTML or a marks file; a marks file holds at "
                "most {:,} marks.".format(MAX_MARKS)
                % (megabytes(MAX_INPUT_BYTES["pdf"]), megabytes(MAX_INPUT_BYTES["html"])))


# Exit status after standard output was closed by its reader (`quorl-text X | head -1`): the
# status a shell reports for a command ended by SIGPIPE, as other Unix tools end.
CLOSED_PIPE = 141


def closed_pipe():
    """Ends quietly once the reader of standard output has gone: what is still buffered for it
    goes nowhere, so that the interpreter's last flush raises nothing either."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError):  # no real standard output (a test's capture)
        pass
    return CLOSED_PIPE


class HelpFormatter(argparse.HelpFormatter):
    """Description and epilog filled to the terminal's width paragraph by paragraph; indented
    lines (examples, field lists) are kept as written."""

    def _fill_text(self, text, width, indent):
        blocks = []
        for block in re.split(r"\n[ \t]*\n", text):
            lines, prose = [], []
            for line in block.splitlines() + [None]:
                if line is not None and line and not line[0].isspace():
                    prose.append(line)
                    continue
                if prose:
                    lines.append(textwrap.fill(" ".join(prose), width, initial_indent=indent,
                                               subsequent_indent=indent))
                    prose = []
                if line is not None:
                    lines.append(indent + line)
            blocks.append("\n".join(lines))
        return "\n\n".join(blocks)


class Parser(argparse.ArgumentParser):
    """argparse as every command uses it: no option taken by a prefix of its name (a script
    that says --allow would break once another option starts so), an unknown option answered
    with the closest one, and help that does not end in a traceback when its reader goes."""

    def __init__(self, **kwargs):
        kwargs.setdefault("allow_abbrev", False)
        kwargs.setdefault("formatter_class", HelpFormatter)
        super().__init__(**kwargs)

    def parse_args(self, args=None, namespace=None):
        argv = sys.argv[1:] if args is None else list(args)
        for token in argv:
            if token == "--":
                break
            name = token.split("=", 1)[0]
            if name.startswith("--") and name not in self._option_string_actions:
                self.error(self.unknown_option(name))
        return super().parse_args(argv, namespace)

    def unknown_option(self, name):
        """The message for an option the command does not have, naming the closest one."""
        options = [o for o in self._option_string_actions if o.startswith("--")]
        longer = [o for o in options if o.startswith(name)]
        if len(longer) == 1:
            return ("unknown option %s; did you mean %s? (options are not taken by a prefix of "
                    "their name)" % (name, longer[0]))
        close = difflib.get_close_matches(name, options, n=1)
        if close:
            return "unknown option %s; did you mean %s?" % (name, close[0])
        return "unknown option %s; %s --help lists the options" % (name, self.prog)

    def _print_message(self, message, file=None):
        try:
            super()._print_message(message, file)
            (file or sys.stderr).flush()
        except BrokenPipeError:
            sys.exit(closed_pipe())


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


def add_skip_unplaced(parser, kept="--marks-out"):
    """--skip-unplaced, as quorl-mark and quorl-batch have it; ``kept`` names the marks file
    that keeps the marks left out."""
    parser.add_argument("--skip-unplaced", action="store_true",
                        help="draw the marks that can be placed and leave out, with a warning "
                             "each, those that cannot (text only the HTML has); %s keeps "
                             "them with empty pdflines and rects and a reason. Without it, one "
                             "mark that cannot be placed fails the patent" % kept)


def run(prog, work, usage_order=None):
    """Runs ``work()``: 0 when it returns, 1 with "prog: error: ..." on standard error when an
    input or output cannot be used, 130 on Ctrl-C, CLOSED_PIPE, quietly, when the reader of
    standard output has gone. Never a traceback."""
    try:
        work()
        sys.stdout.flush()  # a reader gone is found here, not in the interpreter's last flush
    except BrokenPipeError:
        return closed_pipe()
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
