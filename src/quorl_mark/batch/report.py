"""OUTDIR/report.jsonl: one JSON line per attempt at a patent, appended as each ends, and what an
earlier run's lines say about which patents need no new attempt."""
import json
import os

from ..errors import JobError
from .patent_task import DONE, fingerprint

NAME = "report.jsonl"


def earlier_runs(path):
    """Name -> fingerprint of the inputs, for every patent whose latest line says it is done.
    Only these short digests are kept, so that a report of millions of lines fits in memory."""
    done = {}
    try:
        f = open(path, "rb")
    except FileNotFoundError:
        return done
    except OSError as e:
        raise JobError(path, "read", "cannot read it: %s" % (e.strerror or e)) from None
    with f:
        for raw in f:
            try:
                line = json.loads(raw)
                name, status = line["name"], line["status"]
            except (ValueError, KeyError, TypeError):
                continue  # a line cut short by a machine that went down
            if status in DONE and isinstance(line.get("inputs"), dict):
                done[name] = fingerprint(line["inputs"])
            else:
                done.pop(name, None)
    return done


class ReportLog:
    """Appends report lines, each written whole and flushed as it comes."""

    def __init__(self, path):
        self.path = path
        try:
            self._file = open(path, "ab")
        except OSError as e:
            raise JobError(path, "write", "cannot write it: %s" % (e.strerror or e)) from None
        if self._file.tell():
            self._mend()

    def _mend(self):
        """A line cut short by a machine that went down is ended, so the next line is whole."""
        with open(self.path, "rb") as f:
            f.seek(-1, os.SEEK_END)
            if f.read(1) != b"\n":
                self._file.write(b"\n")

    def write(self, line):
        self._file.write(json.dumps(line, ensure_ascii=False).encode("utf-8") + b"\n")
        self._file.flush()

    def close(self):
        self._file.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
