"""The child process of a ChildPool: python -m quorl_mark.worker [MODULE ...].

It imports the modules named on its command line, says it is ready, then runs one task after
another as they come on standard input, each a pickled (key, "package.module:function", args),
and answers each with a length-prefixed pickled reply on what was its standard output. That
descriptor is reserved for the replies as soon as the child starts: file descriptor 1 then points
at standard error, so whatever a library prints (the quorl module reports its progress with
print) can never corrupt a reply.

The child dies with the process that started it, so that nothing it does outlives its pool: on
Linux the kernel kills it when that process ends (PR_SET_PDEATHSIG), and everywhere a thread
watching the request pipe kills it when the pool's end of the pipe closes, even while a task is
stuck in C code. A commit of outputs therefore happens only while the pool is there to record it.

Ctrl-C is not the child's to see (the pool starts it in a session of its own); a SIGINT sent by
the pool while a task runs interrupts it, which unwinds as after Ctrl-C in a command (outputs not yet
committed are removed), and the child answers "interrupted" and ends. Between tasks it returns
MuPDF's resource store to the allocator, so that memory stays flat over many documents.
"""
import ctypes
import importlib
import os
import pickle
import select
import signal
import socket
import struct
import sys
import threading
import time

from .errors import JobError, one_line

HEADER = struct.Struct("!I")  # length of the pickled reply that follows
PARENT_ENV = "QUORL_MARK_POOL_PID"  # the pid of the pool's process, set by the pool
PR_SET_PDEATHSIG = 1


def die_with_parent(requests_fd):
    """Makes this process end when the pool's process does (see the module's docstring)."""
    if sys.platform.startswith("linux"):
        try:
            libc = ctypes.CDLL(None, use_errno=True)
            libc.prctl(PR_SET_PDEATHSIG, int(signal.SIGKILL), 0, 0, 0)
        except (OSError, AttributeError):
            pass
    parent = os.environ.pop(PARENT_ENV, "")
    if parent.isdigit() and os.getppid() != int(parent):
        os._exit(1)  # the pool ended before the kernel was told to end us with it
    threading.Thread(target=_watch_pipe, args=(requests_fd,), daemon=True,
                     name="quorl-pool-watch").start()


def _watch_pipe(fd):
    """Kills this process once no one can write to ``fd`` any more: the pool is gone or has
    closed the pipe; a task stuck in C code ends too, which a signal handler could not do."""
    poller = select.poll()
    poller.register(fd, 0)  # hang-ups and errors only; the main thread reads the data
    while True:
        for _, event in poller.poll():
            if event & (select.POLLHUP | select.POLLERR | select.POLLNVAL):
                os.kill(os.getpid(), signal.SIGKILL)


def rss_mb():
    """This process's resident memory in MB."""
    try:
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20
    except (OSError, ValueError, IndexError):
        import resource

        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def resolve(target, cache={}):
    """The function "package.module:function" names."""
    function = cache.get(target)
    if function is None:
        module, _, name = target.partition(":")
        function = getattr(importlib.import_module(module), name)
        cache[target] = function
    return function


def release_memory():
    """Empties MuPDF's resource store (fonts, images, parsed objects of the documents just
    closed). No gc.collect(): with PyMuPDF loaded a full collection costs tens of
    milliseconds per task, and the collector runs on its own anyway."""
    pymupdf = sys.modules.get("pymupdf")
    if pymupdf is not None:
        pymupdf.TOOLS.store_shrink(100)


class Replies:
    def __init__(self, fd):
        self._out = os.fdopen(fd, "wb", buffering=0)

    def send(self, message):
        data = pickle.dumps(message, protocol=pickle.HIGHEST_PROTOCOL)
        self._out.write(HEADER.pack(len(data)) + data)


def _interrupt_once(signum, frame):
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # a second SIGINT must not break the unwinding
    raise KeyboardInterrupt


def run_task(key, target, args):
    """(status, value, error) of one task."""
    try:
        return "ok", resolve(target)(*args), None
    except KeyboardInterrupt:
        return "interrupted", None, "interrupted"
    except JobError as e:
        return "failed", None, str(e)
    except MemoryError:
        return "failed", None, "out of memory"
    except Exception as e:
        return "failed", None, one_line(e)


def _leave():
    """Ends the child without the interpreter's teardown (PyMuPDF's among it, tens of
    milliseconds that the pool would wait for): every task's outputs are committed before its
    reply, so nothing is left to clean up."""
    for stream in (sys.stdout, sys.stderr):
        try:
            stream.flush()
        except (OSError, ValueError):
            pass
    os._exit(0)


def main(argv=None):
    replies = Replies(os.dup(1))
    os.dup2(2, 1)
    requests = os.fdopen(os.dup(0), "rb")
    die_with_parent(requests.fileno())
    devnull = os.open(os.devnull, os.O_RDONLY)
    os.dup2(devnull, 0)
    os.close(devnull)
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # only a task at work is interrupted
    for module in (sys.argv[1:] if argv is None else argv):
        importlib.import_module(module)
    worker = "%s:%d" % (socket.gethostname(), os.getpid())
    replies.send(("ready", worker))
    while True:
        try:
            task = pickle.load(requests)
        except EOFError:  # the pool is done with us
            return _leave()
        key, target, args = task
        start = time.perf_counter()
        signal.signal(signal.SIGINT, _interrupt_once)
        try:
            status, value, error = run_task(key, target, args)
        except KeyboardInterrupt:  # arrived just as the task returned
            status, value, error = "interrupted", None, "interrupted"
        finally:
            signal.signal(signal.SIGINT, signal.SIG_IGN)
        seconds = time.perf_counter() - start
        try:
            reply = pickle.dumps(value, protocol=pickle.HIGHEST_PROTOCOL)
        except Exception as e:
            status, value, error = "failed", None, "its result cannot be sent back: %s" % one_line(e)
        else:
            value = reply
        release_memory()
        replies.send(("done", key, status, value, error, seconds, rss_mb()))
        if status == "interrupted":
            return _leave()


if __name__ == "__main__":
    sys.exit(main())
