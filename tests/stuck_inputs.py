"""Inputs that hold a child process mid-patent: a FIFO in place of a file blocks whoever reads it
until a writer comes, so a test knows which process is working on that patent and can kill it,
interrupt it or let it run past a timeout."""
import glob
import os
import signal
import threading
import time


def make_fifo(path):
    path = str(path)
    if os.path.lexists(path):
        os.unlink(path)
    os.mkfifo(path)
    return path


def _open_to_read(pid, fd):
    """Whether descriptor ``fd`` of process ``pid`` was opened for reading. A process this one
    forks (the pool starting a child) holds a copy of the test's write end until it execs: that
    is no reader, and data written for it would meet a broken pipe."""
    with open("/proc/%d/fdinfo/%s" % (pid, fd)) as f:
        for line in f:
            if line.startswith("flags:"):
                return (int(line.split()[1], 8) & os.O_ACCMODE) != os.O_WRONLY
    return False


def readers_of(path, timeout=10.0):
    """Pids of the other processes that hold ``path`` open to read, waiting until there is
    one."""
    path = os.path.realpath(path)
    deadline = time.monotonic() + timeout
    while True:
        pids = set()
        for fd_dir in glob.glob("/proc/[0-9]*/fd"):
            pid = int(fd_dir.split("/")[2])
            if pid == os.getpid():
                continue
            try:
                for fd in os.listdir(fd_dir):
                    if os.readlink(os.path.join(fd_dir, fd)) == path and _open_to_read(pid, fd):
                        pids.add(pid)
            except OSError:
                continue
        if pids or time.monotonic() > deadline:
            return pids
        time.sleep(0.02)


def wait_for_reader(path):
    """Blocks until a process opens the FIFO ``path`` to read; returns the write end and the
    readers' pids. The reader stays blocked until the write end is closed."""
    fd = os.open(path, os.O_WRONLY)
    return fd, readers_of(path)


def kill_readers(path, times):
    """A thread that SIGKILLs the process reading the FIFO ``path``, ``times`` times over; the
    list it returns fills with the pids killed."""
    killed = []

    def work():
        for _ in range(times):
            fd, pids = wait_for_reader(path)
            for pid in pids:
                os.kill(pid, signal.SIGKILL)
                killed.append(pid)
            # The write end goes as soon as the killed readers are gone, well before the next
            # attempt's child has started: that reader must wait for the next round, not find
            # this writer and then an end.
            deadline = time.monotonic() + 10
            while readers_of(path, 0) & pids and time.monotonic() < deadline:
                time.sleep(0.01)
            os.close(fd)

    thread = threading.Thread(target=work, daemon=True)
    thread.start()
    return thread, killed


def kill_once_then_feed(path, data):
    """A thread that SIGKILLs the first process reading the FIFO ``path`` and then gives the
    next reader ``data``; the list it returns fills with the pid killed."""
    killed = []

    def work():
        fd, pids = wait_for_reader(path)  # kept open: the next reader must not see an end
        try:
            for pid in pids:
                os.kill(pid, signal.SIGKILL)
                killed.append(pid)
            deadline = time.monotonic() + 60
            while not readers_of(path, 1.0) - set(killed) and time.monotonic() < deadline:
                pass
            os.write(fd, data)
        finally:
            os.close(fd)  # whatever happened, the reader sees an end rather than waiting on

    thread = threading.Thread(target=work, daemon=True)
    thread.start()
    return thread, killed


def alive(pid):
    """Whether process ``pid`` still runs (a zombie waiting for its parent does not)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rpartition(")")[2].split()[0] != "Z"
    except OSError:
        return False
