"""The quorl-text command: prints the document text of a patent's HTML, the text whose
character positions mark records give, with where each section starts and ends in it."""
import argparse
import json
import sys

from .. import job
from .common import path_value, run, version
from ..diagnostics import module_diagnostics
from ..inputs import MAX_INPUT_BYTES, megabytes, read_html
from ..vocabulary import SECTIONS

PROG = "quorl-text"

DESCRIPTION = """\
Prints the document text of a patent's full-text HTML: the text content of its elements,
without markup, every newline character removed. The "start" and "end" of a mark record count
code points of this text (end exclusive), so text[start:end] in Python is the marked passage."""

EPILOG = """\
Plain output: one line per section present, "SECTION START END", a blank line, then the text
on one line. --json prints {"length": N, "sections": [{"id", "start", "end"}, ...],
"text": "..."} instead.

PATENT.html must be a regular file (not a device, a FIFO or a directory) of at most %s.""" \
    % megabytes(MAX_INPUT_BYTES["html"])


def build_parser():
    parser = argparse.ArgumentParser(prog=PROG, description=DESCRIPTION, epilog=EPILOG,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("html", metavar="PATENT.html", type=path_value,
                        help="the patent's full-text HTML")
    parser.add_argument("--json", action="store_true", help="print JSON (see below)")
    parser.add_argument("--version", action="version", version="%(prog)s " + version())
    return parser


def document_text(html_path):
    """(text, [(section id, start, end)]) of the HTML file."""
    html_text = read_html(html_path)
    with module_diagnostics(verbose=False):
        htmldoc = job.load_html(html_text, html_path)
        sections = [(s, htmldoc.infodict[s]["start"], htmldoc.infodict[s]["end"])
                    for s, _ in SECTIONS if htmldoc.infodict.get(s)]
        text = htmldoc.text
        htmldoc.delete()
    return text, sections


def show(args):
    text, sections = document_text(args.html)
    if args.json:
        json.dump({"length": len(text),
                   "sections": [{"id": s, "start": a, "end": b} for s, a, b in sections],
                   "text": text}, sys.stdout, ensure_ascii=False)
        sys.stdout.write("\n")
        return
    for section, start, end in sections:
        print("%s %d %d" % (section, start, end))
    print()
    print(text)


def main(argv=None):
    args = build_parser().parse_args(argv)
    return run(PROG, lambda: show(args), usage_order="PATENT.html")


if __name__ == "__main__":
    sys.exit(main())
