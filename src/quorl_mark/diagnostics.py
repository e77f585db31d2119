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

What MuPDF reports while a PDF is read (its warnings and errors, such as "zlib error" or
"repairing PDF document") is collected too: PyMuPDF keeps it in one store per process and prints
errors as "MuPDF error:" lines. Inside ``module_diagnostics`` PyMuPDF prints nothing; the reports
are gathered into the ``PdfLibraryReports`` the context yields, shown on standard error when
verbose, so that the caller can tell a damaged PDF by them.
"""
import contextlib
import io
import logging
import sys
import threading

_lock = threading.Lock()
_routes = {}  # thread ident -> (stream or None, verbose)
_installed = None  # (proxy, replaced stdout, filter, null handler or None) while routes exist
_reports = []  # the PdfLibraryReports of the open contexts, innermost last
_shown = None  # PyMuPDF's own display of errors and warnings, kept while contexts are open


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


def _pdf_tools():
    import pymupdf

    return pymupdf.TOOLS


class PdfLibraryReports:
    """The lines MuPDF reported while a ``module_diagnostics`` block ran, in their order."""

    def __init__(self, sink):
        self.lines = []
        self._sink = sink

    def collect(self):
        """Takes in what MuPDF reported since the last call; returns every line so far."""
        with _lock:
            self._add(_take_reports())
        return self.lines

    def _add(self, lines):
        for line in lines:
            self.lines.append(line)
            self._sink.write("quorl: MuPDF: %s\n" % line)


def _take_reports():
    """MuPDF's reports not taken yet, as lines, its store emptied."""
    text = _pdf_tools().mupdf_warnings(reset=True)
    return [line.strip() for line in text.splitlines() if line.strip()]


def new_pdf_library_reports():
    """What MuPDF reported since it was last asked, as lines. Inside ``module_diagnostics``
    they also join the innermost block's PdfLibraryReports."""
    with _lock:
        taken = _take_reports()
        if _reports:
            _reports[-1]._add(taken)
    return taken


def _open_reports(sink):
    global _shown
    tools = _pdf_tools()
    with _lock:
        if _reports:
            _reports[-1]._add(_take_reports())  # the enclosing block's, not this one's
        else:
            _take_reports()  # reported before any block began: nobody's
            _shown = (tools.mupdf_display_errors(), tools.mupdf_display_warnings())
            tools.mupdf_display_errors(False)
            tools.mupdf_display_warnings(False)
        reports = PdfLibraryReports(sink)
        _reports.append(reports)
    return reports


def _close_reports(reports):
    tools = _pdf_tools()
    with _lock:
        reports._add(_take_reports())
        _reports.remove(reports)
        if _reports:
            _reports[-1].lines.extend(reports.lines)  # the enclosing block read them too
        else:
            tools.mupdf_display_errors(_shown[0])
            tools.mupdf_display_warnings(_shown[1])


@contextlib.contextmanager
def module_diagnostics(verbose=False, stream=None):
    """Within the block, what the quorl module prints or logs on this thread goes to ``stream``
    (standard error by default) when ``verbose``, and nowhere otherwise; so do MuPDF's reports,
    which the block's PdfLibraryReports (the value it yields) gathers."""
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
    reports = _open_reports(sink)
    try:
        yield reports
    finally:
        _close_reports(reports)
        with _lock:
            if outer is None:
                del _routes[ident]
            else:
                _routes[ident] = outer
            if not _routes:
                _uninstall(_installed)
                _installed = None
