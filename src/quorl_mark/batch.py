"""Marking many patents: ``mark_batch`` streams the report line of every attempt, marking the
patents in child processes of this machine (ChildPool) or, given a Dask client, on the workers of
a Dask cluster, each Dask task driving child processes of the same kind (see cluster.py).

Each patent's outputs go to OUTDIR as quorl-mark writes them (all or nothing, see
job.mark_to_files), and each attempt adds a line to OUTDIR/report.jsonl. A patent whose latest
line says it was marked or skipped, whose outputs are there and whose inputs have the same sizes
and hashes is skipped, unless ``force``.
"""
import collections
import os
import subprocess

from .children import ChildPool
from .errors import JobError
from .patent_task import TARGET, Settings, record
from .report import NAME as REPORT_NAME, ReportLog, earlier_runs
from .sources import Refusal, Source

STATUSES = ("ok", "skipped", "failed", "crashed", "timeout", "interrupted")


def _same_folder(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.realpath(a) == os.path.realpath(b)


class Batch:
    """One run over the patents of ``source`` (a folder or a manifest): see mark_batch."""

    def __init__(self, source, outdir, *, jobs=None, client=None, timeout=None, force=False,
                 diff_view=False, preview=False, review=False, dpi=100, allow_mismatch=False,
                 verbose=False,
                 max_tasks_per_child=None, max_rss_mb=None, per_task=1, in_flight=None,
                 ocr="auto", skip_unplaced=False):
        if jobs is not None and jobs < 1:
            raise JobError(None, "arguments", "--jobs must be at least 1")
        if timeout is not None and timeout <= 0:
            raise JobError(None, "arguments", "--timeout must be more than 0 seconds")
        if not 10 <= dpi <= 1200:
            raise JobError(None, "arguments", "--dpi must be between 10 and 1200")
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
        self.report_path = os.path.join(outdir, REPORT_NAME)
        self.earlier = {} if force else earlier_runs(self.report_path)
        self.settings = Settings(outdir=outdir, diff_view=diff_view, preview=preview,
                                 review=review, dpi=dpi,
                                 allow_mismatch=allow_mismatch, force=force, verbose=verbose,
                                 ocr=ocr, skip_unplaced=skip_unplaced)
        self.client = client
        self.pool_options = dict(timeout=timeout, max_tasks_per_child=max_tasks_per_child,
                                 max_rss_mb=max_rss_mb, preload=("quorl",))
        self.jobs = jobs or os.cpu_count() or 1
        self.per_task = max(1, per_task)
        self.in_flight = in_flight
        self._log = ReportLog(self.report_path)
        self._refused = collections.deque()

    def count(self):
        return self.source.count()

    def _emit(self, line):
        self._log.write(line)
        return line

    def _work(self):
        """(entry, fingerprint of its last good run or None) per patent to attempt; refusals
        are written to the report as they come and queued for the caller."""
        for item in self.source:
            if isinstance(item, Refusal):
                self._refused.append(self._emit({
                    "name": item.name, "status": "failed", "error": item.error, "pages": None,
                    "marks": None, "seconds": {}, "worker": None, "inputs": None}))
            else:
                yield item, self.earlier.get(item.name)

    def _drain_refused(self):
        while self._refused:
            yield self._refused.popleft()

    def __iter__(self):
        try:
            if self.client is not None:
                from .cluster import run_on_dask

                lines = run_on_dask(self.client, self._work(), self.settings, self.pool_options,
                                    self._emit, self.per_task, self.in_flight)
            else:
                lines = self._run_local()
            for line in lines:
                yield from self._drain_refused()
                yield line
            yield from self._drain_refused()
        finally:
            self._log.close()

    def _run_local(self):
        entries = {}

        def tasks():
            for entry, earlier in self._work():
                entries[entry.name] = entry
                yield entry.name, TARGET, (entry, self.settings, earlier)

        def line(outcome):
            return self._emit(record(outcome.key, outcome, self.settings,
                                     entries.pop(outcome.key)))

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
    patent; ``force`` marks patents an earlier run has done; ``diff_view``, ``preview`` and
    ``review`` add OUTDIR/NAME/diff, OUTDIR/NAME/preview and OUTDIR/NAME/review; ``dpi``,
    ``allow_mismatch`` and ``verbose`` as for quorl-mark; ``max_tasks_per_child`` and ``max_rss_mb`` replace a child after so many
    patents or above so much resident memory; ``per_task`` patents go to one Dask task; ``ocr``
    as quorl-mark's --ocr (auto, always, never), the pages of a patent read one after another;
    ``skip_unplaced`` as quorl-mark's --skip-unplaced (the line's ``unplaced`` counts the marks
    left out).

    A KeyboardInterrupt stops the run: the patents in flight are interrupted, their lines
    yielded and written, then the KeyboardInterrupt goes on. Bad arguments raise JobError at
    once, before any patent is attempted.
    """
    return iter(Batch(source, outdir, **options))
