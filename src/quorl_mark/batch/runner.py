"""Marking many patents: ``mark_batch`` streams the report line of every attempt, marking the
patents in child processes of this machine (ChildPool) or, given a Dask client, on the workers of
a Dask cluster, each Dask task driving child processes of the same kind (see cluster.py).

Before any patent is marked the run takes OUTDIR's lock (lock.py) and checks every output of the
run against every input and every other output (claims.py). Each patent's outputs go to OUTDIR
as quorl-mark writes them (all or nothing, see job.mark_to_files), and each attempt adds a line
to OUTDIR/report.jsonl. A patent whose latest line says it was marked or skipped exactly as now
asked (see patent_task.fingerprint) is skipped, unless ``force``.
"""
import collections
import math
import os
import subprocess

from ..children import ChildPool, default_max_rss_mb
from ..errors import JobError
from .claims import RunFiles
from .lock import OutdirLock
from .patent_task import TARGET, Settings, record, timeout_of
from .report import NAME as REPORT_NAME, ReportFull, ReportLog, earlier_runs
from .sources import Refusal, Source

STATUSES = ("ok", "skipped", "failed", "crashed", "timeout", "interrupted")


def _same_folder(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.realpath(a) == os.path.realpath(b)


def check_options(jobs=None, timeout=None, dpi=100, max_tasks_per_child=None, max_rss_mb=None,
                  per_task=1):
    """The first option value that is out of range, as (option, what it must be), or None."""
    def bad_number(value, low):
        return not isinstance(value, (int, float)) or isinstance(value, bool) or \
            not math.isfinite(value) or value < low

    if jobs is not None and bad_number(jobs, 1):
        return "--jobs", "must be at least 1"
    if timeout is not None and (bad_number(timeout, 0) or timeout <= 0):
        return "--timeout", "must be a number of seconds more than 0"
    if bad_number(dpi, 10) or dpi > 1200:
        return "--dpi", "must be between 10 and 1200"
    if max_tasks_per_child is not None and bad_number(max_tasks_per_child, 1):
        return "--max-tasks-per-child", "must be at least 1"
    if max_rss_mb is not None and (bad_number(max_rss_mb, 0) or max_rss_mb <= 0):
        return "--max-rss-mb", "must be a number of MB more than 0"
    if bad_number(per_task, 1):
        return "--per-task", "must be at least 1"
    return None


class Batch:
    """One run over the patents of ``source`` (a folder or a manifest): see mark_batch."""

    def __init__(self, source, outdir, *, jobs=None, client=None, timeout=None, force=False,
                 diff_view=False, preview=False, review=False, dpi=100, allow_mismatch=False,
                 verbose=False,
                 max_tasks_per_child=None, max_rss_mb=None, per_task=1, in_flight=None,
                 ocr="auto", skip_unplaced=False, notify=None):
        bad = check_options(jobs, timeout, dpi, max_tasks_per_child, max_rss_mb, per_task)
        if bad:
            raise JobError(None, "arguments", "%s %s" % bad)
        self.source = Source(source)
        outdir = os.path.abspath(outdir)
        if self.source.folder is not None and os.path.isdir(outdir) and _same_folder(
                outdir, self.source.folder):
            raise JobError(outdir, "arguments", "OUTDIR is the input folder; the outputs need "
                           "a folder of their own")
        try:
            os.makedirs(outdir, exist_ok=True)
        except OSError as e:
            raise JobError(outdir, "write", "cannot create it: %s" % (e.strerror or e)) from None
        self._lock = OutdirLock(outdir)
        try:
            self.report_path = os.path.join(outdir, REPORT_NAME)
            self.earlier = {} if force else earlier_runs(self.report_path)
            self.settings = Settings(outdir=outdir, diff_view=diff_view, preview=preview,
                                     review=review, dpi=dpi,
                                     allow_mismatch=allow_mismatch, force=force,
                                     verbose=verbose, ocr=ocr, skip_unplaced=skip_unplaced,
                                     timeout=timeout)
            reserved = [(self.report_path, "the report of the run"),
                        (self._lock.path, "the lock of OUTDIR")]
            if self.source.folder is None:
                reserved.append((self.source.path, "the manifest"))
            self.conflicts = RunFiles(self.settings, reserved).check(self.source)
            self.jobs = jobs or os.cpu_count() or 1
            self._log = ReportLog(self.report_path)
        except BaseException:
            self._lock.release()
            raise
        self.client = client
        self.notify = notify
        if max_rss_mb is None and client is None:  # a Dask worker finds its own share
            max_rss_mb = default_max_rss_mb(self.jobs)
        self.pool_options = dict(max_tasks_per_child=max_tasks_per_child,
                                 max_rss_mb=max_rss_mb, preload=("quorl",),
                                 report_retries=True)
        self.per_task = max(1, per_task)
        self.in_flight = in_flight
        self._refused = collections.deque()
        self._full = None  # the ReportFull that stops the run

    def count(self):
        return self.source.count()

    def nothing_found(self):
        """A warning when the source holds no patent at all, else None."""
        return self.source.nothing_found() if self.count() == 0 else None

    def _emit(self, line):
        if self._full is None:
            try:
                self._log.write(line)
            except ReportFull as e:
                self._full = ReportFull(e.file, "%s: the line of %s (%s) could not be added "
                                        "and the run stops" % (e.reason, line["name"],
                                                               line["status"]), line)
        return line

    def _refusal(self, name, error):
        self._refused.append(self._emit({
            "name": name, "status": "failed", "error": error, "pages": None, "marks": None,
            "seconds": {}, "worker": None, "inputs": None, "attempt": 1}))

    def _work(self):
        """(entry, fingerprint of its last good run or None) per patent to attempt; refusals
        are written to the report as they come and queued for the caller."""
        for item in self.source:
            if isinstance(item, Refusal):
                self._refusal(item.name, item.error)
            elif item.name in self.conflicts:
                self._refusal(item.name, self.conflicts[item.name].message(item))
            else:
                yield item, self.earlier.get(item.name)
            if self._full is not None:
                return

    def _drain_refused(self):
        while self._refused:
            yield self._refused.popleft()
            self._stop_when_full()

    def _stop_when_full(self):
        if self._full is not None:
            raise self._full

    def __iter__(self):
        lines = None
        try:
            if self.client is not None:
                from .cluster import run_on_dask

                lines = run_on_dask(self.client, self._work(), self.settings, self.pool_options,
                                    self._emit, self.per_task, self.in_flight, self.notify)
            else:
                lines = self._run_local()
            for line in lines:
                yield from self._drain_refused()
                yield line
                self._stop_when_full()
            yield from self._drain_refused()
        finally:
            try:
                if lines is not None:
                    lines.close()  # the patents still in flight are interrupted and recorded
            finally:
                self.close()

    def close(self):
        """Ends the run's hold on OUTDIR: the report is closed and the lock released."""
        self._log.close()
        self._lock.release()

    def _run_local(self):
        entries = {}

        def tasks():
            for entry, earlier in self._work():
                entries[entry.name] = entry
                yield (entry.name, TARGET, (entry, self.settings, earlier),
                       timeout_of(entry, self.settings))

        def line(outcome):
            entry = entries[outcome.key] if not outcome.final else entries.pop(outcome.key)
            return self._emit(record(outcome.key, outcome, self.settings, entry))

        with ChildPool(self.jobs, stderr=None if self.settings.verbose else subprocess.DEVNULL,
                       **self.pool_options) as pool:
            try:
                for outcome in pool.run(tasks()):
                    yield line(outcome)
            except KeyboardInterrupt:
                for outcome in pool.stop():
                    yield line(outcome)
                raise
            except GeneratorExit:  # the caller stopped iterating: what was running is recorded
                for outcome in pool.stop():
                    line(outcome)
                raise


def mark_batch(source, outdir, **options):
    """Marks every patent of ``source`` (a folder or a JSON Lines manifest) into ``outdir``,
    yielding the report line (a dict) of each attempt as it ends.

    ``jobs`` child processes on this machine (default: one per core), or, with ``client`` (a
    ``distributed.Client``), as many as the Dask cluster has threads. ``timeout`` seconds per
    patent (default: patent_task.default_timeout, from the size of its inputs); ``force``
    marks patents an earlier run has done; ``diff_view``, ``preview`` and ``review`` add
    OUTDIR/NAME/diff, OUTDIR/NAME/preview and OUTDIR/NAME/review; ``dpi``, ``allow_mismatch``
    and ``verbose`` as for quorl-mark; ``max_tasks_per_child`` replaces a child after so many
    patents; ``max_rss_mb`` fails a patent whose child holds more resident memory while it
    runs (default: children.default_max_rss_mb); ``per_task`` patents go to one Dask task;
    ``ocr`` as quorl-mark's --ocr (auto, always, never), the pages of a patent read one after
    another; ``skip_unplaced`` as quorl-mark's --skip-unplaced (the line's ``unplaced`` counts
    the marks left out); ``notify``, a function taking one line of text, hears what the run
    waits for (a Dask cluster without workers).

    A crashed attempt that is run again has a line of its own with ``"retrying": true``; every
    line has its ``attempt`` (1, 2). A KeyboardInterrupt stops the run: the patents in flight
    are interrupted, their lines yielded and written, then the KeyboardInterrupt goes on. Bad
    arguments, a run already writing into ``outdir`` and outputs that clash raise JobError or
    refuse the patents concerned at once, before any patent is attempted; a report that cannot
    take another line (a full disk) raises report.ReportFull after that line is yielded.
    """
    return iter(Batch(source, outdir, **options))
