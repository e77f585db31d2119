"""OUTDIR/report.jsonl: one JSON line per attempt at a patent, appended as each ends, and what an
earlier run's lines say about which patents need no new attempt."""
import errno
import json
import os
import stat

from ..errors import JobError
from .patent_task import DONE, fingerprint

NAME = "report.jsonl"


class ReportFull(JobError):
    """The report cannot take another line; ``line`` is the one that was not written."""

    def __init__(self, path, reason, line=None):
        super().__init__(path, "write", reason)
        self.line = line

    def __reduce__(self):
        return type(self), (self.file, self.reason, self.line)


def earlier_runs(path):
    """Name -> fingerprint of the run (see patent_task.fingerprint), for every patent whose
    latest line says it is done. Only these short digests are kept, so that a report of
    millions of lines fits in memory."""
    done = {}
    try:
        f = open(path, "rb")
    except FileNotFoundError:
        return done
    except OSError as e:
        raise JobError(path, "read", "cannot read it: %s" % (e.strerror or e)) from None
    with f:
        if not stat.S_ISREG(os.fstat(f.fileno()).st_mode):
            raise JobError(path, "read", "the report is not a regular file; remove it, or "
                           "use --force to mark every patent again")
        for raw in f:
            try:
                line = json.loads(raw)
                name, status = line["name"], line["status"]
            except (ValueError, KeyError, TypeError):
                continue  # a line cut short by a machine that went down
            if line.get("retrying"):
                continue  # an attempt that crashed and was run again: its next line tells
            if status in DONE and all(isinstance(line.get(key), dict)
                                      for key in ("inputs", "outputs", "options")):
                done[name] = fingerprint(line["inputs"], line["outputs"], line["options"])
            else:
                done.pop(name, None)
    return done


class ReportLog:
    """Appends report lines, each written whole as it comes, or not at all: a line that does
    not fit (a full disk) is taken back and ReportFull raised."""

    def __init__(self, path):
        self.path = path
        self.written = 0
        try:
            self._file = open(path, "ab", buffering=0)
        except OSError as e:
            raise JobError(path, "write", "cannot write it: %s" % (e.strerror or e)) from None
        if self._file.tell():
            self._mend()

    def _mend(self):
        """A line cut short by a machine that went down is ended, so the next line is whole."""
        with open(self.path, "rb") as f:
            f.seek(-1, os.SEEK_END)
            if f.read(1) != b"\n":
                self._append(b"\n", None)

    def _append(self, data, line):
        fd = self._file.fileno()
        try:
            start = os.lseek(fd, 0, os.SEEK_END)
        except OSError:
            start = None
        try:
            view = memoryview(data)
            while view:
                view = view[os.write(fd, view):]
        except OSError as e:
            if start is not None:
                try:  # no half line: the next run would take it for a machine gone down
                    os.ftruncate(fd, start)
                except OSError:
                    pass
            if e.errno in (errno.ENOSPC, errno.EDQUOT):
                reason = "the disk is full"
            else:
                reason = "cannot append to it: %s" % (e.strerror or e)
            raise ReportFull(self.path, reason, line) from None

    def write(self, line):
        self._append(json.dumps(line, ensure_ascii=False).encode("utf-8") + b"\n", line)
        self.written += 1

    def close(self):
        self._file.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
