"""The quorl-batch command: marks many patents, on this machine's cores or on a Dask cluster.

The work is batch.Batch's; this file parses the arguments, shows the progress and the patents
that failed, and prints the summary.
"""
import argparse
import collections
import math
import signal
import sys

from ..batch.runner import Batch
from .common import (Parser, add_allow_mismatch, add_page_options, add_skip_unplaced,
                     add_standard_options, run)
from ..errors import JobError, one_line

PROG = "quorl-batch"

DESCRIPTION = """\
Marks many patents as quorl-mark marks one: each patent's marked PDF and its marks with their
PDF lines go to OUTDIR/NAME.pdf and OUTDIR/NAME.marks.json, written all or nothing."""

EPILOG = """\
INPUT is a folder holding NAME.html, NAME.pdf and NAME.marks.json (or NAME.json) per patent, or
a JSON Lines manifest with one patent per line:

  {"name": "CN1234567A", "html": "html/CN1234567A.html",
   "pdf": "pdf/CN1234567A.pdf", "marks": "marks/CN1234567A.json",
   "output": "marked/CN1234567A.pdf"}

(relative paths are relative to the manifest; "output", the marked PDF's path, is optional).

Every output of the run is checked against every input and every other output (the report and
the manifest included) before any work; a patent whose output would replace one of them is
refused. One run at a time writes into an OUTDIR: a second one is refused, naming the first.

Every attempt adds a line to OUTDIR/report.jsonl: the name, the status (ok, failed, crashed,
timeout, interrupted or skipped), the one-line error, the attempt (a crashed attempt is tried
once more in a new child; its own line says "retrying": true), the pages, the marks placed (and
with --skip-unplaced the marks left out, unplaced), the seconds per stage, the worker that ran
it, the size and SHA-256 of each input and output and the options that shaped the outputs.
Running the same command again skips a patent only when its inputs, its output paths and those
options are those of its last good run and its outputs are still the files written then
(--force redoes every patent).

Exit status: 0 when every patent was marked or skipped, 1 when one failed or an input or OUTDIR
cannot be used, 2 for wrong arguments, 130 after Ctrl-C, 143 after SIGTERM (both interrupt the
patents in flight, which are reported "interrupted")."""


def _number(kind, low, inclusive, what):
    """An argparse type: a finite ``kind`` at least (or more than) ``low``; else exit 2."""
    def parse(text):
        try:
            value = kind(text)
        except ValueError:
            raise argparse.ArgumentTypeError("%r is not a number" % text) from None
        if not math.isfinite(value) or value < low or (value == low and not inclusive):
            raise argparse.ArgumentTypeError("must be %s, not %s" % (what, text))
        return value
    return parse


_COUNT = _number(int, 1, True, "at least 1")
_POSITIVE = _number(float, 0, False, "more than 0")


def build_parser():
    parser = Parser(prog=PROG, description=DESCRIPTION, epilog=EPILOG)
    parser.add_argument("input", metavar="INPUT", help="a folder of patents or a manifest")
    parser.add_argument("-o", "--output", metavar="OUTDIR", required=True,
                        help="the folder the outputs and report.jsonl go to (not INPUT)")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("-j", "--jobs", type=_COUNT, metavar="N",
                       help="child processes on this machine (default: one per core)")
    where.add_argument("--dask", metavar="ADDRESS",
                       help="run on the Dask cluster whose scheduler is at ADDRESS, for example "
                            "tcp://10.0.0.1:8786 (needs quorl[cluster])")
    parser.add_argument("--timeout", type=_POSITIVE, metavar="SECONDS",
                        help="give up a patent after so many seconds (its child is replaced; "
                             "default: 120 s plus 120 s per MB of the patent's three inputs, "
                             "so 6 minutes for 2 MB)")
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
    add_skip_unplaced(parser, kept="OUTDIR/NAME.marks.json")
    parser.add_argument("--max-tasks-per-child", type=_COUNT, metavar="N",
                        help="replace a child process after N patents")
    parser.add_argument("--max-rss-mb", type=_POSITIVE, metavar="MB",
                        help="fail a patent whose child process (with the processes it starts) "
                             "holds more resident memory than this while it runs; the child "
                             "is killed and replaced (default: 2048, or the machine's memory "
                             "shared among the children when that is less, at least 512)")
    parser.add_argument("--per-task", type=_COUNT, default=1, metavar="N",
                        help="patents per Dask task (default: %(default)s)")
    add_standard_options(parser, quiet="no progress bar and no summary; the patents that "
                                       "fail are still listed")
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


def failure_message(line):
    """The line a failed attempt prints: the patent's name, unless the error names it already
    (a manifest line without a usable name is its own name)."""
    status, error = line["status"], line["error"]
    text = error if status == "failed" else "%s: %s" % (status, error)
    if line["name"].startswith("line ") and line["name"] in error:
        return "%s: %s" % (PROG, text)
    return "%s: %s: %s" % (PROG, line["name"], text)


def mark_all(args):
    """Runs the batch; the number of patents that were not marked or skipped."""
    from ..batch.progress import Progress

    client = connect(args.dask) if args.dask else None
    notices = []
    try:
        batch = Batch(args.input, args.output, jobs=args.jobs, client=client,
                      timeout=args.timeout, force=args.force, diff_view=args.diff_view,
                      preview=args.preview, review=args.review, dpi=args.dpi,
                      allow_mismatch=args.allow_mismatch,
                      verbose=args.verbose, max_tasks_per_child=args.max_tasks_per_child,
                      max_rss_mb=args.max_rss_mb, per_task=args.per_task, ocr=args.ocr,
                      skip_unplaced=args.skip_unplaced,
                      notify=lambda text: notices and notices[0]("%s: %s" % (PROG, text)))
        empty = batch.nothing_found()
        if empty:
            print("%s: warning: %s" % (PROG, empty), file=sys.stderr, flush=True)
        progress = Progress(PROG, batch.count(), quiet=args.quiet)
        notices.append(progress.write)
        counts = collections.Counter()
        try:
            for line in batch:
                status = line["status"]
                if line.get("retrying"):
                    if not args.quiet:
                        progress.write(failure_message(line))
                    continue
                counts[status] += 1
                progress.update(failed=status not in ("ok", "skipped"))
                if status not in ("ok", "skipped"):  # quiet silences progress, never errors
                    progress.write(failure_message(line))
        finally:
            progress.close()
            if not args.quiet:
                print(summary(counts, progress, batch.report_path), flush=True)
        return progress.failed
    finally:
        if client is not None:
            client.close()


class Terminated(KeyboardInterrupt):
    """SIGTERM, taken as Ctrl-C is: the patents in flight are interrupted and recorded."""


def _terminate(signum, frame):
    signal.signal(signal.SIGTERM, signal.SIG_IGN)  # a second one must not break the unwinding
    raise Terminated


def main(argv=None):
    parser = build_parser()
    args = parser.parse_args(argv)
    if not 10 <= args.dpi <= 1200:
        parser.error("argument --dpi: must be between 10 and 1200, not %d" % args.dpi)
    failed, terminated = [], []

    def work():
        try:
            failed.append(mark_all(args))
        except Terminated:
            terminated.append(True)
            raise

    try:
        previous = signal.signal(signal.SIGTERM, _terminate)
    except ValueError:  # not the main thread: SIGTERM is left to whoever runs us
        previous = None
    try:
        status = run(PROG, work)
    finally:
        if previous is not None:
            signal.signal(signal.SIGTERM, previous)
    if terminated:
        return 143
    return 1 if status == 0 and failed and failed[0] else status


if __name__ == "__main__":
    sys.exit(main())
