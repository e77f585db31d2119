"""The quorl-extract command: the annotations of a patent's annotated PDF, read back as mark
records against the patent's full-text HTML (or as W3C Web Annotations).

The work is extract.pdf_annotations_to_marks'; this file parses the arguments, builds the
converter from the HTML and the annotated PDF (its annotations left out of the text), and writes
the output through outputs.Outputs.
"""
import json
import os
import pathlib
import sys

from .. import job
from ..extract import w3c
from .common import (INPUT_LIMITS, Parser, add_allow_mismatch, add_patent_inputs,
                     add_standard_options, path_value, run)
from ..diagnostics import module_diagnostics
from ..errors import JobError
from ..extract.marks import pdf_annotations_to_marks, pdf_without_annotations
from ..inputs import read_html, read_pdf
from ..outputs import Outputs

PROG = "quorl-extract"
ORDER = "PATENT.html ANNOTATED.pdf"

DESCRIPTION = """\
Reads the annotations of a Chinese invention patent's PDF back as marks against the text of the
patent's full-text HTML: highlights, underlines, squiggles and strike-outs made in any PDF reader,
sticky notes, and the marks quorl-mark drew."""

EPILOG = """\
MARKS.json is a list of records, one per stretch of text an annotation covers:

  start, end, type, title, content (and info)
                 the mark as quorl-mark reads it: character positions in the
                 HTML document text (its text content without newline
                 characters); a reader's annotation is of type cth with its
                 own text as content; quorl's marks come back with the type,
                 title and content their annotations carry
  source         quorl or reader
  annotation     the PDF annotation kind (Highlight, Underline, Squiggly,
                 StrikeOut, Text, ...)
  page, color, author
                 the annotation's page (from 0), colour (#rrggbb) and author
  pdf_text, html_text, exact
                 the PDF text covered, the HTML text of the span, and whether
                 the two are equal
  note           true for sticky notes, free text and flags, anchored to the
                 nearest text line
  reason         why an annotation has no span (start and end are null): it
                 covers no text, or only text the HTML does not have

With --format w3c the output is a W3C Web Annotation collection that web annotation clients
(and quorl-mark) read: each annotation targets the HTML with a TextPositionSelector counting
code points of document.body.textContent (the text a browser's DOM gives for the page, as
Hypothesis and Apache Annotator count) and a TextQuoteSelector of that text with 32 characters
of context; "quorl:span" keeps the start and end in the HTML document text, "quorl:info" the
info hint.

The HTML must be the PDF's publication and hold its claims and description: an HTML of
another publication, or one cut short (only its bibliographic section), is refused;
--allow-mismatch reads the annotations anyway, with a warning. A PDF that MuPDF reports
anything about while it is read is refused as damaged.
%(limits)s

Exit status: 0 on success, 1 when an input cannot be used (for instance a PDF that is not the
HTML's publication), 2 for wrong arguments."""


def build_parser():
    epilog = EPILOG.replace("%(limits)s", INPUT_LIMITS)
    parser = Parser(prog=PROG, description=DESCRIPTION, epilog=epilog)
    add_patent_inputs(parser, "ANNOTATED.pdf", "the patent's published PDF, with annotations")
    parser.add_argument("-o", "--output", metavar="MARKS.json", required=True, type=path_value,
                        help="where to write the records ('-' for standard output)")
    parser.add_argument("--format", choices=("marks", "w3c"), default="marks",
                        help="marks: mark records (the default); w3c: W3C Web Annotation JSON")
    add_allow_mismatch(parser, "read the annotations")
    add_standard_options(parser)
    return parser


def mismatch(converter, args):
    """Why the HTML and the annotated PDF do not go together, or None: another publication, or
    an HTML without sections the PDF has, whose annotations would all come back without a
    span. Refused with a JobError unless --allow-mismatch."""
    match = job.checked_match(converter, args.html, args.pdf, args.allow_mismatch)
    problem = match.problem()
    missing = job.missing_sections(converter)
    if missing:
        cut = ("the HTML has no %s section, though the PDF has their text (an HTML cut short?)"
               % " and no ".join(missing))
        if not args.allow_mismatch:
            raise JobError(args.html, "match", cut + "; its annotations there would have no "
                           "span")
        problem = "%s; %s" % (problem, cut) if problem else cut
    return problem


def read_records(args):
    """The records, (the converter's HTML document text, the HTML) and the warnings to show."""
    html_text = read_html(args.html)
    pdf_bytes = read_pdf(args.pdf)
    warnings = []
    with module_diagnostics(args.verbose) as reports:
        doc = None
        try:
            converter = job.load_converter(
                html_text, pdf_without_annotations(pdf_bytes, args.pdf), args.html, args.pdf)
            doc = converter.pdfdoc.doc
            job.refuse_damaged(reports, args.pdf, doc)
            problem = mismatch(converter, args)
            if problem:
                warnings.append("%s and %s: %s (reading the annotations anyway)"
                                % (args.html, args.pdf, problem))
            records = pdf_annotations_to_marks(converter, pdf_bytes, pdf_name=args.pdf)
            job.refuse_damaged(reports, args.pdf, doc)
        except Exception as e:
            if not (isinstance(e, JobError) and e.stage == "pdf"):
                job.refuse_damaged(reports, args.pdf, doc)
            raise
    return records, (converter.htmldoc.text, html_text), warnings


def serialize(args, records, document_text):
    if args.format == "w3c":
        data = w3c.annotation_collection(records, *document_text,
                                         pathlib.Path(args.html).resolve().as_uri(),
                                         pathlib.Path(args.pdf).resolve().as_uri())
    else:
        data = records
    return (json.dumps(data, ensure_ascii=False, indent=2) + "\n").encode("utf-8")


def extract(args):
    to_stdout = args.output == "-"
    with Outputs([("PATENT.html", args.html), ("ANNOTATED.pdf", args.pdf)]) as outputs:
        if not to_stdout:
            outputs.target(args.output, "-o")
            outputs.folder(os.path.dirname(os.path.abspath(args.output)), "the folder of")
        records, document_text, warnings = read_records(args)
        data = serialize(args, records, document_text)
        if to_stdout:
            sys.stdout.buffer.write(data)
            sys.stdout.buffer.flush()
        else:
            outputs.stage(args.output, data, "-o")
            outputs.commit()
    for warning in warnings:
        print("%s: warning: %s" % (PROG, warning), file=sys.stderr)
    if not args.quiet:
        unplaced = sum(1 for r in records if r["start"] is None)
        quorl_made = sum(1 for r in records if r["source"] == "quorl")
        print("%d records (%d from quorl's marks, %d from readers, %d without a span): %s"
              % (len(records), quorl_made, len(records) - quorl_made, unplaced,
                 "standard output" if to_stdout else args.output),
              file=sys.stderr if to_stdout else sys.stdout)


def main(argv=None):
    args = build_parser().parse_args(argv)
    return run(PROG, lambda: extract(args), usage_order=ORDER)


if __name__ == "__main__":
    sys.exit(main())
