"""One run at a time into an OUTDIR: an advisory lock (flock) on OUTDIR/.quorl-batch.lock for
the whole run. The file holds the process that has the lock, for the message a second run
gives. It is never removed: removing it would let two runs lock two different files."""
import contextlib
import errno
import fcntl
import os
import socket
import time

from ..errors import JobError

NAME = ".quorl-batch.lock"


class OutdirLock:
    def __init__(self, outdir):
        self.path = os.path.join(outdir, NAME)
        self._fd = None
        try:
            self._fd = os.open(self.path, os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o666)
        except OSError as e:
            raise JobError(self.path, "write", "cannot create the lock of OUTDIR: %s"
                           % (e.strerror or e)) from None
        try:
            fcntl.flock(self._fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            holder = self._holder()
            self.release()
            raise JobError(outdir, "arguments", "another quorl-batch run is writing into this "
                           "folder (%s); wait for it to end, or give another OUTDIR"
                           % holder) from None
        except OSError as e:  # a file system without locks: the run goes on unguarded
            if e.errno not in (errno.ENOLCK, errno.EOPNOTSUPP):
                self.release()
                raise JobError(self.path, "write", "cannot lock it: %s"
                               % (e.strerror or e)) from None
        with contextlib.suppress(OSError):
            os.ftruncate(self._fd, 0)
            os.pwrite(self._fd, ("process %d on %s, started %s\n" % (
                os.getpid(), socket.gethostname(),
                time.strftime("%Y-%m-%d %H:%M:%S"))).encode(), 0)

    def _holder(self):
        with contextlib.suppress(OSError, UnicodeDecodeError):
            text = os.pread(self._fd, 200, 0).decode().strip()
            if text:
                return text
        return "its process is not recorded"

    def __del__(self):
        self.release()

    def release(self):
        if self._fd is not None:
            os.close(self._fd)  # closing the descriptor releases the lock
            self._fd = None
