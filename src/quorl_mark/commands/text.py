"""The quorl-text command: prints the document text of a patent's HTML, the text whose
character positions mark records give, with where each section starts and ends in it."""
import json
import sys

from .. import job
from .common import Parser, path_value, run, version
from ..diagnostics import module_diagnostics
from ..errors import JobError
from ..inputs import MAX_INPUT_BYTES, megabytes, read_html

PROG = "quorl-text"

DESCRIPTION = """\
Prints the document text of a patent's full-text HTML: the text content of its elements,
without markup, every newline character removed. The "start" and "end" of a mark record count
code points of this text (end exclusive), so text[start:end] in Python is the marked passage."""

EPILOG = """\
Plain output: one line per section present, "SECTION START END", a blank line, then the text
on one line. --json prints {"length": N, "sections": [{"id", "start", "end"}, ...],
"text": "..."} instead.

--find PHRASE (repeatable) prints instead every occurrence of each phrase, as quorl-mark
finds the text of a record {"text": PHRASE}: one line per occurrence, "START END SECTION
CONTEXT" (the occurrence in brackets with 10 characters either side), after a line "PHRASE:
N occurrences". Where the exact code points are not there, the places that differ only in
blanks or full-/half-width forms are printed, marked "(differs in blanks or widths)". With
--json: {"phrases": [{"text", "exact", "occurrences": [{"start", "end", "section",
"context", "matched"}]}]}. Exit status 1 when a phrase is not found at all (the closest text
found is named), so a list of phrases can be checked before marking.

PATENT.html must be a regular file (not a device, a FIFO or a directory) of at most %s.""" \
    % megabytes(MAX_INPUT_BYTES["html"])


def build_parser():
    parser = Parser(prog=PROG, description=DESCRIPTION, epilog=EPILOG)
    parser.add_argument("html", metavar="PATENT.html", type=path_value,
                        help="the patent's full-text HTML")
    parser.add_argument("--json", action="store_true", help="print JSON (see below)")
    parser.add_argument("--find", metavar="PHRASE", action="append",
                        help="print where PHRASE occurs in the text instead (repeatable)")
    parser.add_argument("--version", action="version", version="%(prog)s " + version())
    return parser


def document_text(html_path):
    """(text, [(section id, start, end)]) of the HTML file."""
    html_text = read_html(html_path)
    with module_diagnostics(verbose=False):
        htmldoc = job.load_html(html_text, html_path)
        sections = job.section_spans(htmldoc)
        text = htmldoc.text
        htmldoc.delete()
    return text, sections


def find(args, text, sections):
    from ..anchoring import DocumentText

    doc = DocumentText(text, sections)
    phrases = [p for p in args.find if p]
    if len(phrases) < len(args.find):
        raise JobError(None, "arguments", "--find needs a phrase; an empty one finds nothing")
    found = []
    for phrase, occurrences in zip(phrases, doc.occurrences(phrases)):
        spans, exact = doc.spans(phrase, occurrences)
        found.append({"text": phrase, "exact": exact, "occurrences": [
            {"start": s, "end": e, "section": doc.section_of(s), "context": doc.around(s, e),
             "matched": text[s:e]} for s, e in spans]})
    if args.json:
        json.dump({"phrases": found}, sys.stdout, ensure_ascii=False)
        sys.stdout.write("\n")
    else:
        for phrase in found:
            count = len(phrase["occurrences"])
            print("%s: %d occurrence%s%s" % (phrase["text"], count, "" if count == 1 else "s",
                                            "" if phrase["exact"] or not count
                                            else " (differs in blanks or widths)"))
            for item in phrase["occurrences"]:
                print("%d %d %s %s" % (item["start"], item["end"], item["section"] or "-",
                                       item["context"]))
    missing = [doc.not_found(p["text"]) for p in found if not p["occurrences"]]
    if missing:
        raise JobError(args.html, "place", "; ".join(missing))


def show(args):
    text, sections = document_text(args.html)
    if args.find is not None:
        return find(args, text, sections)
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
