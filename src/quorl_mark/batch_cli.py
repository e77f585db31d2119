"""The quorl-batch command: marks many patents, on this machine's cores or on a Dask cluster.

The work is batch.Batch's; this file parses the arguments, shows the progress and the patents
that failed, and prints the summary.
"""
import argparse
import collections
import sys

from .batch import Batch
from .command import (add_allow_mismatch, add_page_options, add_skip_unplaced,
                      add_standard_options, run)
from .errors import JobError, one_line

PROG = "quorl-batch"

DESCRIPTION = """\
Marks many patents as quorl-mark marks one: each patent's marked PDF and its marks with their
PDF lines go to OUTDIR/NAME.pdf and OUTDIR/NAME.marks.json, written all or nothing."""

EPILOG = """\
INPUT is a folder holding NAME.html, NAME.pdf and NAME.marks.json (or NAME.json) per patent, or
a JSON Lines manifest with one patent per line:

  {"name": "CN1234567A", "html": "html/CN1234567A.html", "pdf": "pdf/CN1234567A.pdf",
   "marks": "marks/CN1234567A.json", "output": "marked/CN1234567A.pdf"}

(relative paths are relative to the manifest; "output", the marked PDF's path, is optional).

Every attempt adds a line to OUTDIR/report.jsonl: the name, the status (ok, failed, crashed,
timeout, interrupted or skipped), the one-line error, the pages, the marks placed (and with
--skip-unplaced the marks left out, unplaced), the seconds per stage, the worker that ran it and the size and SHA-256 of each input. Running the same
command again skips the patents marked before from unchanged inputs (--force redoes them).

Exit status: 0 when every patent was marked or skipped, 1 when one failed or an input or OUTDIR
cannot be used, 2 for wrong arguments, 130 after Ctrl-C."""


def build_parser():
    parser = argparse.ArgumentParser(prog=PROG, description=DESCRIPTION, epilog=EPILOG,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("input", metavar="INPUT", help="a folder of patents or a manifest")
    parser.add_argument("-o", "--output", metavar="OUTDIR", required=True,
                        help="the folder the outputs and report.jsonl go to (not INPUT)")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("-j", "--jobs", type=int, metavar="N",
                       help="child processes on this machine (default: one per core)")
    where.add_argument("--dask", metavar="ADDRESS",
                       help="run on the Dask cluster whose scheduler is at ADDRESS, for example "
                            "tcp://10.0.0.1:8786 (needs quorl[cluster])")
    parser.add_argument("--timeout", type=float, metavar="SECONDS",
                        help="give up a patent after so many seconds (its child is replaced)")
    parser.add_argument("--force", action="store_true",
                        help="mark again the patents an earlier run has marked")
    parser.add_argument("--diff-view", action="store_true",
                        help="also write each patent's diff views into OUTDIR/NAME/diff")
    parser.add_argument("--preview", action="store_true",
                        help="also write each patent's marked pages as PNG into "
                             "OUTDIR/NAME/preview")
    parser.add_argument("--review", action="store_true",
                        help="also write each patent's review page into OUTDIR/NAME/review "
                             "(open index.html there in a browser)")
    add_page_options(parser, "the previews and the review pages' page images")
    add_allow_mismatch(parser, "mark")
    add_skip_unplaced(parser)
    parser.add_argument("--max-tasks-per-child", type=int, metavar="N",
                        help="replace a child process after N patents")
    parser.add_argument("--max-rss-mb", type=float, metavar="MB",
                        help="replace a child process holding more resident memory than this")
    parser.add_argument("--per-task", type=int, default=1, metavar="N",
                        help="patents per Dask task (default: %(default)s)")
    add_standard_options(parser, quiet="no progress, no failures listed, no summary")
    return parser


def connect(address):
    try:
        from distributed import Client
    except ImportError:
        raise JobError(None, "arguments", "--dask needs the distributed package; install "
                       "quorl[cluster]") from None
    try:
        return Client(address, timeout=30)
    except (OSError, TimeoutError, ValueError) as e:
        raise JobError(address, "arguments", "cannot reach the Dask scheduler: %s"
                       % one_line(e)) from None


def summary(counts, progress, report):
    done, failed = counts["ok"] + counts["skipped"], progress.failed
    text = "%s: %d done (%d marked, %d skipped), %d failed" % (
        PROG, done, counts["ok"], counts["skipped"], failed)
    others = ["%d %s" % (counts[s], s) for s in ("crashed", "timeout", "interrupted") if counts[s]]
    if others:
        text += " (%s)" % ", ".join(others)
    return text + ", %.1f patents/s; report: %s" % (progress.rate(), report)


def mark_all(args):
    """Runs the batch; the number of patents that were not marked or skipped."""
    from .progress import Progress

    client = connect(args.dask) if args.dask else None
    try:
        batch = Batch(args.input, args.output, jobs=args.jobs, client=client,
                      timeout=args.timeout, force=args.force, diff_view=args.diff_view,
                      preview=args.preview, review=args.review, dpi=args.dpi,
                      allow_mismatch=args.allow_mismatch,
                      verbose=args.verbose, max_tasks_per_child=args.max_tasks_per_child,
                      max_rss_mb=args.max_rss_mb, per_task=args.per_task, ocr=args.ocr,
                      skip_unplaced=args.skip_unplaced)
        progress = Progress(PROG, batch.count(), quiet=args.quiet)
        counts = collections.Counter()
        try:
            for line in batch:
                status = line["status"]
                counts[status] += 1
                progress.update(failed=status not in ("ok", "skipped"))
                if status not in ("ok", "skipped") and not args.quiet:
                    progress.write("%s: %s: %s%s" % (PROG, line["name"], "" if status == "failed"
                                                     else status + ": ", line["error"]))
        finally:
            progress.close()
            if not args.quiet:
                print(summary(counts, progress, batch.report_path), flush=True)
        return progress.failed
    finally:
        if client is not None:
            client.close()


def main(argv=None):
    args = build_parser().parse_args(argv)
    if args.jobs is not None and args.jobs < 1:
        build_parser().error("--jobs must be at least 1")
    if args.per_task < 1:
        build_parser().error("--per-task must be at least 1")
    failed = []
    status = run(PROG, lambda: failed.append(mark_all(args)))
    return 1 if status == 0 and failed and failed[0] else status


if __name__ == "__main__":
    sys.exit(main())
