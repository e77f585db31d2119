"""Where the quorl module's own diagnostics go while the package works on a patent.

The module reports progress with print() on sys.stdout and warnings through the root logger.
``module_diagnostics`` routes both, for the calling thread only, to standard error (verbose) or
nowhere. Other threads keep printing and logging as before, so the routing is safe inside a
process that runs other work, such as a Dask worker.

The routing is per process in one respect: while any thread is inside the context, sys.stdout is
a proxy that forwards every other thread's writes to the stream it replaced, and the root logger
carries one filter (and a NullHandler when it had no handler, so that ``logging.warning`` does
not configure it). Both are removed when the last thread leaves. Code that replaces sys.stdout
itself meanwhile keeps its replacement; the proxy then simply stops being used.
"""
import contextlib
import io
import logging
import sys
import threading

_lock = threading.Lock()
_routes = {}  # thread ident -> (stream or None, verbose)
_installed = None  # (proxy, replaced stdout, filter, null handler or None) while routes exist


class _Discard(io.TextIOBase):
    def writable(self):
        return True

    def write(self, text):
        return len(text)


class _RoutedStdout(io.TextIOBase):
    """sys.stdout for the whole process: routed threads write to their sink, others through."""

    def __init__(self, through):
        self._through = through

    def writable(self):
        return True

    def _target(self):
        route = _routes.get(threading.get_ident())
        return route[0] if route else self._through

    def write(self, text):
        return self._target().write(text)

    def flush(self):
        self._target().flush()

    @property
    def encoding(self):
        return getattr(self._through, "encoding", "utf-8")


class _RoutedRecords(logging.Filter):
    """On the root logger: a routed thread's records go to its own handler, not the root's."""

    def filter(self, record):
        route = _routes.get(record.thread)
        if route is None:
            return True
        handler = route[1]
        if handler is not None and record.levelno >= logging.WARNING:
            handler.handle(record)
        return False


def _install():
    root = logging.getLogger()
    records = _RoutedRecords()
    root.addFilter(records)
    null = None
    if not root.handlers:
        null = logging.NullHandler()
        root.addHandler(null)
    proxy = _RoutedStdout(sys.stdout)
    replaced = sys.stdout
    sys.stdout = proxy
    return proxy, replaced, records, null


def _uninstall(installed):
    proxy, replaced, records, null = installed
    root = logging.getLogger()
    root.removeFilter(records)
    if null is not None:
        root.removeHandler(null)
    if sys.stdout is proxy:
        sys.stdout = replaced


@contextlib.contextmanager
def module_diagnostics(verbose=False, stream=None):
    """Within the block, what the quorl module prints or logs on this thread goes to ``stream``
    (standard error by default) when ``verbose``, and nowhere otherwise."""
    global _installed
    ident = threading.get_ident()
    if verbose:
        sink = stream if stream is not None else sys.stderr
        handler = logging.StreamHandler(sink)
        handler.setFormatter(logging.Formatter("quorl: %(levelname)s: %(message)s"))
    else:
        sink, handler = _Discard(), None
    with _lock:
        outer = _routes.get(ident)
        _routes[ident] = (sink, handler)
        if _installed is None:
            _installed = _install()
    try:
        yield
    finally:
        with _lock:
            if outer is None:
                del _routes[ident]
            else:
                _routes[ident] = outer
            if not _routes:
                _uninstall(_installed)
                _installed = None
