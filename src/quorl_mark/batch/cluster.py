"""Batch marking on a Dask cluster (``distributed``, the package's "cluster" extra).

The client submits groups of ``per_task`` patents as Dask tasks, keeping a bounded number in
flight and submitting the next as each completes, so neither the scheduler nor the client holds
a future per patent. A task marks its patents in child processes (the ChildPool a worker thread
keeps from task to task), so a crash, a hang or a leak costs a child, never the Dask worker, and
a crashed patent is retried alone in a new child. Workers read the inputs and write the outputs
themselves; a task returns only the report lines.

Ctrl-C on the client sets a Dask Event the running tasks poll: each interrupts its children,
which remove what they had not committed, and returns the lines of the patents it had started.
"""
import itertools
import os
import subprocess
import threading
import time
import uuid

from ..children import ChildPool, Outcome, default_max_rss_mb
from ..errors import one_line
from .patent_task import TARGET, record, timeout_of

GRACE = 5.0  # seconds a task's children have to unwind after an interrupt
WORKERS_NOTICE_EVERY = 60.0  # seconds between two notices that no worker is there
_local = threading.local()


def _pool(pool_options, verbose):
    """The ChildPool of this worker thread, kept from task to task."""
    key = (tuple(sorted(pool_options.items())), verbose)
    pools = getattr(_local, "pools", None)
    if pools is None:
        pools = _local.pools = {}
    if key not in pools:
        options = dict(pool_options)
        if options.get("max_rss_mb") is None:  # this machine's share for each of its threads
            options["max_rss_mb"] = default_max_rss_mb(_threads_here())
        pools[key] = ChildPool(1, stderr=None if verbose else subprocess.DEVNULL, **options)
    return pools[key]


def _threads_here():
    try:
        from distributed import get_worker

        return get_worker().state.nthreads
    except Exception:  # not in a worker, or a distributed that keeps it elsewhere
        return os.cpu_count() or 1


def mark_group(group, settings, pool_options, stop_name):
    """A Dask task: the report lines of the patents of ``group`` ((entry, earlier) pairs)."""
    from distributed import Event

    stop = Event(stop_name)
    if stop.is_set():
        return []
    entries = {entry.name: entry for entry, _ in group}
    tasks = [(entry.name, TARGET, (entry, settings, earlier), timeout_of(entry, settings))
             for entry, earlier in group]
    pool = _pool(pool_options, settings.verbose)
    return [record(outcome.key, outcome, settings, entries[outcome.key])
            for outcome in pool.run(tasks, stop=stop.is_set)]


def _failed_task(future, group, settings):
    """Lines for the patents of a task that Dask itself could not run (its worker died more
    often than the scheduler allows, or it was cancelled)."""
    try:
        error = "the Dask task failed: %s" % one_line(future.exception())
    except Exception as e:
        error = "the Dask task failed: %s" % one_line(e)
    return [record(entry.name, Outcome(entry.name, "crashed", None, error, None, 0.0), settings)
            for entry, _ in group]


def _workers(client):
    try:
        return len(client.scheduler_info().get("workers", {}))
    except Exception:  # the scheduler does not answer: no worker can be counted on either
        return 0


def _wait_for_one(completed, seconds):
    """Waits at most ``seconds`` for a future of ``completed`` to finish: woken by as_completed's
    own condition where it has one (as its blocking iteration is), so that a result is taken
    and the next task submitted at once rather than at the next look."""
    condition = getattr(completed, "thread_condition", None)
    if condition is None:
        time.sleep(seconds)
        return
    with condition:
        condition.wait(seconds)


def run_on_dask(client, work, settings, pool_options, emit, per_task=1, in_flight=None,
                notify=None):
    """Yields the report lines of ``work`` ((entry, earlier) pairs) marked on the cluster of
    ``client``, each passed through ``emit`` (which records it) as it arrives. ``notify``
    hears, now and then, that the cluster has no worker to run the tasks queued."""
    from distributed import Event, as_completed, wait

    stop_name = "quorl-batch-stop-" + uuid.uuid4().hex
    stop = Event(stop_name, client=client)
    groups = iter(lambda: list(itertools.islice(work, per_task)), [])
    limit = in_flight or max(2, 2 * sum(client.nthreads().values()))
    pending = {}  # future -> its group
    completed = as_completed()

    def submit():
        group = next(groups, None)
        if group is not None:
            future = client.submit(mark_group, group, settings, pool_options, stop_name,
                                   pure=False)
            pending[future] = group
            completed.add(future)

    def lines(future):
        group = pending.pop(future)
        if future.status == "finished":
            return future.result()
        return _failed_task(future, group, settings)

    def interrupt():
        """Stops the tasks in flight; the lines of those that answer in time."""
        stop.set()
        try:
            wait(list(pending), timeout=GRACE + 5)
        except Exception:  # a timeout, or futures cancelled meanwhile: both sorted out below
            pass
        done = []
        for future in list(pending):
            if future.done():
                done.extend(lines(future))
            else:
                pending.pop(future)
                future.cancel()
        return done

    def ready():
        """The futures done by now, waiting while there are none; says so when the reason is
        that the cluster has no worker."""
        told = time.monotonic() - WORKERS_NOTICE_EVERY + 2  # workers may be joining
        while True:
            done = completed.next_batch(block=False)
            if done or completed.is_empty():
                return done
            now = time.monotonic()
            if notify is not None and now - told >= WORKERS_NOTICE_EVERY \
                    and _workers(client) == 0:
                told = now
                notify("waiting for Dask workers: none is connected to the scheduler at %s; "
                       "%d task%s queued" % (client.scheduler.address, len(pending),
                                             "" if len(pending) == 1 else "s"))
            _wait_for_one(completed, 0.1)

    for _ in range(limit):
        submit()
    try:
        while True:
            done = ready()
            if not done:
                break
            for future in done:
                for line in lines(future):
                    yield emit(line)
                submit()
    except KeyboardInterrupt:
        for line in interrupt():
            yield emit(line)
        raise
    except GeneratorExit:
        for line in interrupt():
            emit(line)
        raise
