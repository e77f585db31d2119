"""Functions the ChildPool tests run in child processes (tests/ is on the children's path)."""
import os
import signal
import sys
import time


def chatty_sum(a, b):
    print("progress noise on standard output")  # must not corrupt the reply pipe
    os.write(1, b"noise written to file descriptor 1\n")
    return {"sum": a + b, "pid": os.getpid()}


def environment(name):
    return os.environ.get(name)


def sleep(seconds):
    time.sleep(seconds)
    return os.getpid()


def die_once(marker):
    """Killed by SIGKILL the first time (``marker`` does not exist yet), fine the second."""
    if not os.path.exists(marker):
        open(marker, "w").close()
        os.kill(os.getpid(), signal.SIGKILL)
    return os.getpid()


def die():
    os.kill(os.getpid(), signal.SIGKILL)


def fail():
    raise ValueError("a value\nspread over lines")


def unpicklable():
    return lambda: None


def grow(megabytes):
    """Holds ``megabytes`` more resident memory for the rest of the child's life."""
    sys.modules[__name__].__dict__.setdefault("held", []).append(bytearray(megabytes << 20))
    return os.getpid()


def slow_then_clean(marker, seconds):
    """Removes ``marker`` when interrupted, as a job removes what it has not committed."""
    open(marker, "w").close()
    try:
        time.sleep(seconds)
    except KeyboardInterrupt:
        os.unlink(marker)
        raise
    return "finished"


def loaded(*prefixes):
    """The loaded modules (not blocked ones) whose names start with one of ``prefixes``."""
    return sorted(name for name, module in sys.modules.items()
                  if module is not None and name.startswith(prefixes))


def kill_later(seconds):
    """Kills the child ``seconds`` after this task has returned, while it is idle."""
    import threading

    threading.Timer(seconds, os.kill, (os.getpid(), signal.SIGKILL)).start()
    return os.getpid()


def grow_slowly(megabytes):
    """Takes ``megabytes`` more memory, 20 MB at a time, as a page being rendered does, and
    holds it a second: longer than the pool's look at the memory takes to come round."""
    held = []
    for _ in range(megabytes // 20):
        held.append(bytearray(20 << 20))
        time.sleep(0.05)
    time.sleep(1.0)
    return len(held)
