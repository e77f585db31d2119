"""A pool of child processes that run functions of this package, one task per child at a time.

Each child is a fresh interpreter started with subprocess (``python -m quorl_mark.worker``),
never a fork: a PyMuPDF document opened before a fork is unsafe in the child, and Dask's
daemonic worker processes may not start multiprocessing children. A child that dies, runs past
the timeout, has run ``max_tasks_per_child`` tasks or holds more than ``max_rss_mb`` of resident
memory is replaced by a new one; the other children go on. A child dies with the process that
started it (see worker.py), so that no task commits anything once its pool is gone.

    with ChildPool(4, timeout=60) as pool:
        for outcome in pool.run((key, "package.module:function", args) for ...):
            ...

``run`` takes tasks from its iterable only as children become free, so at most ``jobs`` are in
flight, and yields an Outcome as each finishes, in the order they finish. A task may carry its
own timeout as a fourth element: (key, target, args, seconds). A KeyboardInterrupt
raised while the caller iterates leaves the tasks in flight with the pool: ``stop()`` interrupts
them and yields their outcomes.
"""
import collections
import os
import pickle
import selectors
import signal
import subprocess
import sys
import time
from typing import Any, NamedTuple, Optional

from .worker import HEADER, PARENT_ENV

STATUSES = ("ok", "failed", "crashed", "timeout", "interrupted")
WATCH_EVERY = 0.5  # seconds between two looks at the children's memory


class Outcome(NamedTuple):
    """How one task ended. ``status`` is one of STATUSES; ``value`` is the function's return
    value when "ok"; ``error`` one line otherwise; ``worker`` "host:pid" of the child that ran
    it; ``seconds`` how long it ran; ``attempt`` which run of the task this was (1, 2, ...);
    ``final`` False for a crashed attempt the pool runs again (only with ``report_retries``)."""
    key: Any
    status: str
    value: Any
    error: Optional[str]
    worker: Optional[str]
    seconds: float
    attempt: int = 1
    final: bool = True


class ChildPoolError(RuntimeError):
    """The pool cannot start its child processes at all."""


def _how_it_ended(returncode):
    if returncode is not None and returncode < 0:
        try:
            return "killed by %s" % signal.Signals(-returncode).name
        except ValueError:
            return "killed by signal %d" % -returncode
    return "exited with status %s" % returncode


def default_max_rss_mb(children):
    """A memory cap per child for ``children`` children on this machine: 2048 MB, or an equal
    share of the machine's memory when that is less, and never below 512 MB."""
    try:
        total = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") / 2**20
    except (ValueError, OSError, AttributeError):
        return 2048.0
    return float(max(512, min(2048, int(total / max(1, children)))))


def tree_rss_mb(pid):
    """Resident memory in MB of process ``pid`` and its descendants (an OCR child, Tesseract),
    None where /proc cannot tell."""
    root, total, todo, seen = pid, 0, [pid], set()
    page = os.sysconf("SC_PAGE_SIZE")
    while todo:
        pid = todo.pop()
        if pid in seen:
            continue
        seen.add(pid)
        try:
            with open("/proc/%d/statm" % pid) as f:
                total += int(f.read().split()[1]) * page
            for task in os.listdir("/proc/%d/task" % pid):
                with open("/proc/%d/task/%s/children" % (pid, task)) as f:
                    todo.extend(int(child) for child in f.read().split())
        except (OSError, ValueError, IndexError):  # a descendant that ended meanwhile
            if pid == root:
                return None
    return total / 2**20


class _Task(NamedTuple):
    key: Any
    target: str
    args: tuple
    attempt: int
    timeout: Optional[float] = None


class _Child:
    """One child process and the task it runs, if any."""

    def __init__(self, command, env, stderr):
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=stderr, env=env, start_new_session=True)
        self.fd = self.proc.stdout.fileno()
        self.buffer = bytearray()
        self.worker = None  # "host:pid" once it said it is ready
        self.task = None
        self.sent_at = None  # when the task was handed over
        self.tasks_done = 0

    def send(self, task):
        self.task = task
        if self.worker is not None:
            self._write(task)

    def _write(self, task):
        self.sent_at = time.monotonic()
        try:
            self.proc.stdin.write(pickle.dumps((task.key, task.target, task.args),
                                               protocol=pickle.HIGHEST_PROTOCOL))
            self.proc.stdin.flush()
        except OSError:  # it died meanwhile: its closed output tells, and the task is retried
            pass

    def receive(self):
        """The replies that arrived, or None when the child has closed its end (it died)."""
        data = os.read(self.fd, 1 << 16)
        if not data:
            return None
        self.buffer += data
        replies = []
        while len(self.buffer) >= HEADER.size:
            (size,) = HEADER.unpack_from(self.buffer)
            if len(self.buffer) < HEADER.size + size:
                break
            replies.append(pickle.loads(bytes(self.buffer[HEADER.size:HEADER.size + size])))
            del self.buffer[:HEADER.size + size]
        for reply in replies:
            if reply[0] == "ready":
                self.worker = reply[1]
                if self.task is not None:
                    self._write(self.task)
        return [reply for reply in replies if reply[0] == "done"]

    def elapsed(self):
        return time.monotonic() - self.sent_at if self.sent_at is not None else 0.0

    def interrupt(self):
        if self.sent_at is not None and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)

    def kill(self):
        """Ends the child at once; how it ended, for messages."""
        if self.proc.poll() is None:
            self.proc.kill()
        returncode = self.proc.wait()
        self._close_pipes()
        return _how_it_ended(returncode)

    def hang_up(self):
        """Closes the child's input, which tells an idle child to end."""
        try:
            self.proc.stdin.close()
        except OSError:
            pass

    def close(self, wait=5.0):
        """Lets an idle child end by closing its input; killed when it does not."""
        self.hang_up()
        try:
            self.proc.wait(wait)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self._close_pipes()

    def _close_pipes(self):
        for pipe in (self.proc.stdin, self.proc.stdout):
            try:
                pipe.close()
            except OSError:
                pass


class ChildPool:
    """At most ``jobs`` child processes running tasks (see the module's docstring).

    ``timeout`` (seconds per task, unless the task gives its own) ends a task as "timeout",
    killing its child; ``max_rss_mb`` ends a task as "failed" the moment its child (with the
    processes it started) holds more resident memory, killing the child; a task whose child died
    is run once more in a new child (``retries``) before it is reported "crashed", and with
    ``report_retries`` each crashed attempt is yielded too, as an Outcome that is not ``final``;
    ``env`` adds environment variables for the children; ``preload`` names modules each child
    imports before it takes tasks, so that a task's time (and its timeout) does not include
    them; ``stderr`` is where the children's standard error goes (as subprocess takes it).
    """

    def __init__(self, jobs, *, timeout=None, max_tasks_per_child=None, max_rss_mb=None,
                 env=None, retries=1, preload=(), stderr=None, report_retries=False):
        if jobs < 1:
            raise ValueError("jobs must be at least 1")
        self.jobs = jobs
        self.timeout = timeout
        self.max_tasks_per_child = max_tasks_per_child
        self.max_rss_mb = max_rss_mb
        self.retries = retries
        self.report_retries = report_retries
        self.stderr = stderr
        self._env = dict(os.environ, **(env or {}))
        package_root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        if os.path.basename(package_root) not in ("site-packages", "dist-packages"):
            # Run from a source tree: the children import this very package.
            self._env["PYTHONPATH"] = os.pathsep.join(
                p for p in (package_root, self._env.get("PYTHONPATH")) if p)
        self._command = [sys.executable, "-m", "quorl_mark.worker", *preload]
        self._children = []
        self._retry = collections.deque()
        self._next_watch = 0.0
        self._selector = selectors.DefaultSelector()

    # --- children ------------------------------------------------------------------------------

    def _spawn(self):
        env = dict(self._env, **{PARENT_ENV: str(os.getpid())})
        child = _Child(self._command, env, self.stderr)
        self._children.append(child)
        self._selector.register(child.fd, selectors.EVENT_READ, child)
        return child

    def _retire(self, child, kill=False):
        self._selector.unregister(child.fd)
        self._children.remove(child)
        return child.kill() if kill else child.close()

    def _idle_child(self):
        for child in list(self._children):
            if child.task is None:
                if child.proc.poll() is None:
                    return child
                self._retire(child, kill=True)  # died while idle (the OOM killer, say)
        return self._spawn()

    def _busy(self):
        return [child for child in self._children if child.task is not None]

    # --- running -------------------------------------------------------------------------------

    def _next_task(self, tasks):
        if self._retry:
            return self._retry.popleft()
        key, target, args, *timeout = next(tasks)
        return _Task(key, target, tuple(args), 0, timeout[0] if timeout else None)

    def _timeout_of(self, child):
        return child.task.timeout if child.task.timeout is not None else self.timeout

    def run(self, tasks, stop=None):
        """Runs the tasks, yielding an Outcome as each ends. ``stop``, when given, is called about
        twice a second; once it returns true no more tasks are started, the tasks in flight are
        interrupted and their outcomes yielded (see ``stop()``)."""
        tasks = iter(tasks)
        exhausted = False
        next_poll = time.monotonic()
        while True:
            while len(self._busy()) < self.jobs and (self._retry or not exhausted):
                try:
                    task = self._next_task(tasks)
                except StopIteration:
                    exhausted = True
                    break
                self._idle_child().send(task)
            busy = self._busy()
            if not busy:
                return
            ends = [c.sent_at + self._timeout_of(c) for c in busy
                    if c.sent_at is not None and self._timeout_of(c) is not None]
            wait = max(0.0, min(ends) - time.monotonic()) if ends else None
            if stop is not None or self.max_rss_mb:
                wait = min(wait, WATCH_EVERY) if wait is not None else WATCH_EVERY
            for selected, _ in self._selector.select(wait):
                yield from self._on_readable(selected.data)
            yield from self._timed_out()
            yield from self._over_memory()
            if stop is not None and time.monotonic() >= next_poll:
                next_poll = time.monotonic() + 0.5
                if stop():
                    yield from self.stop()
                    return

    def _on_readable(self, child):
        replies = child.receive()
        if replies is None:
            yield from self._died(child)
            return
        for _, key, status, value, error, seconds, rss in replies:
            worker, attempt = child.worker, child.task.attempt + 1
            child.task, child.sent_at = None, None
            child.tasks_done += 1
            if status == "interrupted" or (
                    self.max_tasks_per_child and child.tasks_done >= self.max_tasks_per_child) or (
                    self.max_rss_mb and rss > self.max_rss_mb):
                self._retire(child)
            yield Outcome(key, status, pickle.loads(value) if status == "ok" else None, error,
                          worker, seconds, attempt)

    def _died(self, child):
        task, worker, seconds = child.task, child.worker, child.elapsed()
        how = self._retire(child, kill=True)
        if worker is None:
            raise ChildPoolError("a worker process (%s) could not start: it %s"
                                 % (" ".join(self._command), how))
        if task is None:
            return
        what = ("the worker process was %s" if how.startswith("killed")
                else "the worker process %s") % how
        if task.attempt < self.retries:
            self._retry.append(task._replace(attempt=task.attempt + 1))
            if self.report_retries:
                yield Outcome(task.key, "crashed", None, what + "; trying again in a new one",
                              worker, seconds, task.attempt + 1, False)
            return
        tries = " (tried %d times)" % (task.attempt + 1) if task.attempt else ""
        yield Outcome(task.key, "crashed", None, what + tries, worker, seconds, task.attempt + 1)

    def _timed_out(self):
        for child in self._busy():
            timeout = self._timeout_of(child)
            if child.sent_at is not None and timeout is not None and child.elapsed() >= timeout:
                task, worker, seconds = child.task, child.worker, child.elapsed()
                self._retire(child, kill=True)
                yield Outcome(task.key, "timeout", None, "ran past the timeout of %g s"
                              % timeout, worker, seconds, task.attempt + 1)

    def _over_memory(self):
        """Ends, as "failed", the tasks whose children hold more memory than ``max_rss_mb``."""
        if not self.max_rss_mb or time.monotonic() < self._next_watch:
            return
        self._next_watch = time.monotonic() + WATCH_EVERY
        for child in self._busy():
            if child.sent_at is None:
                continue
            rss = tree_rss_mb(child.proc.pid)
            if rss is not None and rss > self.max_rss_mb:
                task, worker, seconds = child.task, child.worker, child.elapsed()
                self._retire(child, kill=True)
                yield Outcome(task.key, "failed", None, "needed more than %g MB of memory (it "
                              "held %.0f MB when it was stopped)" % (self.max_rss_mb, rss),
                              worker, seconds, task.attempt + 1)

    def stop(self, grace=5.0):
        """Interrupts every task in flight (SIGINT, so that it unwinds and removes what it has not
        committed) and yields each one's outcome: "interrupted", or how it ended when it ended
        first. A task still running after ``grace`` seconds is killed. Tasks waiting for a retry
        are reported "interrupted" without running."""
        while self._retry:
            task = self._retry.popleft()
            yield Outcome(task.key, "interrupted", None, "interrupted before it started", None, 0.0)
        for child in self._busy():
            if child.sent_at is None:  # still starting: the task never reached it
                task = child.task
                self._retire(child, kill=True)
                yield Outcome(task.key, "interrupted", None, "interrupted before it started",
                              None, 0.0)
            else:
                child.interrupt()
        deadline = time.monotonic() + grace
        while self._busy() and time.monotonic() < deadline:
            for selected, _ in self._selector.select(max(0.0, deadline - time.monotonic())):
                child = selected.data
                replies = child.receive()
                if replies is None:
                    task, worker, seconds = child.task, child.worker, child.elapsed()
                    how = self._retire(child, kill=True)
                    if task is not None:
                        yield Outcome(task.key, "interrupted", None, "interrupted; the worker "
                                      "process %s" % how, worker, seconds)
                    continue
                for _, key, status, value, error, seconds, rss in replies:
                    worker = child.worker
                    child.task = None
                    self._retire(child)
                    yield Outcome(key, status, pickle.loads(value) if status == "ok" else None,
                                  error, worker, seconds)
        for child in self._busy():
            task, worker, seconds = child.task, child.worker, child.elapsed()
            self._retire(child, kill=True)
            yield Outcome(task.key, "interrupted", None, "interrupted; killed after %g s" % grace,
                          worker, seconds)

    def close(self):
        """Ends every child; tasks still in flight are interrupted first (see ``stop``)."""
        for _ in self.stop():
            pass
        for child in self._children:  # all at once: they end side by side
            child.hang_up()
        for child in list(self._children):
            self._retire(child)
        self._selector.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
