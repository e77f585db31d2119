"""The quorl-mark command: marks given as character spans of a patent's full-text HTML are drawn
as highlight and label annotations onto the patent's published PDF.

The work is job.mark_patent's; the writing is outputs.Outputs'. This file parses the arguments,
checks every output before the work starts and turns the outcome into messages and an exit
status.
"""
import sys

from .. import job
from .common import (INPUT_LIMITS, Parser, add_allow_mismatch, add_page_options,
                     add_patent_inputs, add_skip_unplaced, add_standard_options, path_value, run)

PROG = "quorl-mark"
ORDER = "PATENT.html PATENT.pdf MARKS.json"

DESCRIPTION = """\
Draws marks onto a Chinese invention patent's PDF. Each mark is given against the text of the
patent's full-text HTML; the HTML and the PDF are aligned character by character, and every mark
becomes highlight and label annotations on the PDF lines it covers."""

EPILOG = """\
MARKS.json holds a list of mark records, for example:

  [{"start": 3705, "end": 3710, "type": "par", "title": "1",
    "content": "hello"},
   {"start": 4120, "end": 4188, "type": "par", "title": "2",
    "content": "as claim 1", "info": "EQUAL"}]

  start, end  character positions in the HTML document text (end exclusive)
  type        par (highlight and number label), cth (highlight), imgpar
              (number label), imgig (content label), flag (flag at the page
              margin) or equal (drawn as par)
  title       the number a label shows
  content     the text stored in the annotations (and shown by imgig and flag
              labels); a flag's box is %(flag_width)d points wide and shows
              about %(flag_cjk)d Chinese characters or %(flag_latin)d Latin letters: a
              longer content is cut, with a warning naming the mark
  info        optional hints: "EQUAL" labels a par mark as a duplicate ("="
              and the title); "imagenote#x,y,w,h$" places an imgpar or imgig
              label inside the marked area, in thousandths of its width and
              height (whole numbers from 0 to 1000, x + w and y + h at most
              1000)
Other keys are ignored, with one warning per key.

A record may give its text instead of start and end: {"text": "智能温控系统"} marks
that phrase (type, title and content default to a cth highlight). Exact code points
are looked for first, then the same text up to blanks and full-/half-width forms (with
a warning showing what was matched). When the text occurs more than once, choose with
  section     cn-bibliographic-info, claims, description or drawings
  prefix, suffix
              the text just before or after it (as a W3C TextQuoteSelector)
  occurrence  N: the Nth occurrence (from 1) of those left
  all         true: mark every occurrence
or the record is refused with the occurrences listed; `quorl-text PATENT.html --find
PHRASE` shows them. A text not found is refused with the closest text found.
--marks-out writes every record with the start and end it got.

MARKS.json may instead hold W3C Web Annotations (an Annotation, a list of them, an
AnnotationPage or an AnnotationCollection with its first page embedded), as web
annotation clients and quorl-extract --format w3c write them. Each is placed as such
clients place it: its TextPositionSelector (counting document.body.textContent of the
page) when the text there is its TextQuoteSelector's exact, else its exact with its
prefix and suffix, else its exact when it occurs once (else the occurrence nearest its
position). Its bodies make the mark:
  tagging     a value that is a mark type (par, cth, imgpar, imgig, flag, equal)
              gives the type; default cth, a plain highlight
  commenting  the content (also a body without a purpose, or bodyValue)
  identifying the title
An annotation that cannot be placed is named; --skip-unplaced leaves it out.

What is drawn, as the markers draw it:
  - every flag mark also draws the fixed red "Claims" flag at the top right
    of the second page (the claims' first page): two flag marks leave two
    Claims flags, one over the other;
  - imgpar and imgig labels are opaque white boxes: without "imagenote" the
    label covers the whole first line (or figure) of its mark and hides the
    text under it. Move it with "info": "imagenote#x,y,w,h$": the label is
    then centred on the right edge of the region x to x + w, from its top y
    (thousandths of the marked area), so imagenote#1000,0,0,1000$ puts it at
    the right end of the mark's first line.
A mark whose title, content or info would put its label off the page, or whose text holds a
NUL character or a lone surrogate, or a number that is not finite (NaN, Infinity), is refused
with a message naming the mark and the field.

The HTML document text is the text content of the HTML's elements (what a browser would show
as text, without markup), with every newline character removed; `quorl-text PATENT.html`
prints it with each section's start and end.

%(limits)s
A PDF that MuPDF reports anything about while it is read (a repair, a zlib or syntax error)
is refused as damaged, with what MuPDF reported.

The HTML and the PDF must be the same publication: their publication numbers (country code
and number, kind code ignored) must agree where both show one, and at least %(threshold)d%%
of their characters must align (2 x aligned / (HTML + PDF characters)); --allow-mismatch marks
anyway.

Exit status: 0 on success; 1 when an input cannot be used, or a mark cannot be placed and
--skip-unplaced is not given; 2 for wrong arguments. Outputs are written only when everything
succeeded, all together; a file they replace is kept until all are in place."""


def build_parser():
    parser = Parser(prog=PROG, description=DESCRIPTION,
                    epilog=EPILOG % {"threshold": round(100 * job.MATCH_THRESHOLD),
                                     "limits": INPUT_LIMITS, "flag_width": job.FLAG_WIDTH,
                                     "flag_cjk": job.FLAG_FITS[0],
                                     "flag_latin": job.FLAG_FITS[1]})
    add_patent_inputs(parser, "PATENT.pdf", "the patent's published PDF")
    parser.add_argument("marks", metavar="MARKS.json", type=path_value,
                        help="the marks to draw, a JSON list of mark records (see below)")
    parser.add_argument("-o", "--output", metavar="OUT.pdf", required=True, type=path_value,
                        help="where to write the marked PDF ('-' for standard output)")
    parser.add_argument("--marks-out", metavar="FILE.json", type=path_value,
                        help="also write the marks with the PDF lines each covers (pdflines: "
                             "[line, [from, to]] pairs over the PDF text's lines) and the "
                             "rectangles of its text (rects: [page, x0, y0, x1, y1], pages "
                             "from 0, PDF points); '-' for standard output, when -o names a "
                             "file")
    parser.add_argument("--diff-view", metavar="DIR", type=path_value,
                        help="also write an HTML view of the differences between the HTML and "
                             "the PDF text of each section into DIR (index.html links them)")
    parser.add_argument("--preview", metavar="DIR", type=path_value,
                        help="also write a PNG image of every marked page into DIR")
    parser.add_argument("--review", metavar="DIR", type=path_value,
                        help="also write a review page into DIR: index.html shows the HTML text "
                             "and the marked PDF pages side by side with every mark on both "
                             "(open it in a browser; it needs nothing but the files of DIR)")
    add_page_options(parser, "the previews and the review page's page images")
    parser.add_argument("--ocr-out", metavar="FILE.pdf", type=path_value,
                        help="keep the OCR'd PDF of a scan in FILE.pdf, written as soon as its "
                             "pages are read (also when the marking then fails): give it "
                             "instead of the scan to skip the OCR next time")
    add_allow_mismatch(parser, "mark")
    add_skip_unplaced(parser)
    add_standard_options(parser)
    return parser


def mark(args):
    from ..ocr.document import page_progress  # loads PyMuPDF

    to_stdout = args.output == "-"
    marks_to_stdout = args.marks_out == "-"
    messages = sys.stderr if to_stdout or marks_to_stdout else sys.stdout
    result, written = job.mark_to_files(
        args.html, args.pdf, args.marks, None if to_stdout else args.output,
        marks_out=None if marks_to_stdout else args.marks_out, diff_view=args.diff_view,
        preview=args.preview,
        review=args.review, dpi=args.dpi, allow_mismatch=args.allow_mismatch,
        verbose=args.verbose, ocr=args.ocr, ocr_progress=page_progress(PROG, args.pdf, args.quiet),
        skip_unplaced=args.skip_unplaced, ocr_out=args.ocr_out)
    if args.ocr_out and args.ocr_out not in written:
        result.warnings.append("%s: no page needed OCR, so --ocr-out %s was not written"
                               % (args.pdf, args.ocr_out))
    for warning in result.warnings:
        print("%s: warning: %s" % (PROG, warning), file=sys.stderr)
    if to_stdout or marks_to_stdout:
        sys.stdout.buffer.write(result.pdf if to_stdout else result.marks_json())
        sys.stdout.buffer.flush()
    if not args.quiet:
        left_out = " (%d left out)" % result.unplaced if result.unplaced else ""
        print("%d marks on %d pages%s: %s" % (len(result.marks) - result.unplaced,
                                              result.marked_pages, left_out,
                                              "standard output" if to_stdout else args.output),
              file=messages)
        if marks_to_stdout:
            print("wrote the marks to standard output", file=messages)
        for path in written:
            print("wrote %s" % path, file=messages)


def main(argv=None):
    parser = build_parser()
    args = parser.parse_args(argv)
    if args.output == "-" and args.marks_out == "-":
        parser.error("-o - and --marks-out - cannot both go to standard output; give one of "
                     "them a file")
    return run(PROG, lambda: mark(args), usage_order=ORDER)


if __name__ == "__main__":
    sys.exit(main())
