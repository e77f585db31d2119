"""The child process of a ChildPool: python -m quorl_mark.worker [MODULE ...].

It imports the modules named on its command line, says it is ready, then runs one task after
another as they come on standard input, each a pickled (key, "package.module:function", args),
and answers each with a length-prefixed pickled reply on what was its standard output. That
descriptor is reserved for the replies as soon as the child starts: file descriptor 1 then points
at standard error, so whatever a library prints (the quorl module reports its progress with
print) can never corrupt a reply.

Ctrl-C is not the child's to see (the pool starts it in a session of its own); a SIGINT sent by
the pool while a task runs interrupts it, which unwinds as after Ctrl-C in a command (outputs not yet
committed are removed), and the child answers "interrupted" and ends. Between tasks it returns
MuPDF's resource store to the allocator, so that memory stays flat over many documents.
"""
import importlib
import os
import pickle
import signal
import socket
import struct
import sys
import time

from .errors import JobError, one_line

HEADER = struct.Struct("!I")  # length of the pickled reply that follows


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


def main(argv=None):
    replies = Replies(os.dup(1))
    os.dup2(2, 1)
    requests = os.fdopen(os.dup(0), "rb")
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
        except EOFError:
            return 0
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
            return 0


if __name__ == "__main__":
    sys.exit(main())
