"""The files of a whole run checked against one another before any patent is marked: no output
may be an input of any patent, another patent's output, the manifest, the report or the lock,
whatever path names it (symbolic links are followed).

Outputs are written by renaming a new file into place, so a hard link elsewhere keeps its old
content and only paths need comparing. Two passes over the source keep the memory small: the
first collects the names and the outputs the manifest gives explicitly (OUTDIR/NAME.* follow
from the names); the second resolves each input and each explicit output in turn and looks it
up. A conflict refuses the patent that would write the file, so that the file stays as it is.
"""
import functools
import os
from typing import NamedTuple

from .patent_task import outputs_of
from .sources import Entry

INPUTS = ("html", "pdf", "marks")


class Conflict(NamedTuple):
    """Why a patent is refused: its ``field`` (an input's key, "output" or the kind of output
    OUTDIR holds), the ``path`` at fault and the ``problem`` with it."""
    field: str
    path: str
    problem: str

    def message(self, entry):
        where = "%s: %s: " % (entry.where, self.field) if entry.where else ""
        return "%s%s: %s" % (where, self.path, self.problem)


@functools.lru_cache(maxsize=4096)
def _real_folder(path):
    return os.path.realpath(path)


def real_path(path):
    """Where ``path`` leads, resolving the links of its folders once per folder."""
    if os.path.islink(path):
        return os.path.realpath(path)
    folder, name = os.path.split(os.path.abspath(path))
    return os.path.join(_real_folder(folder), name)


class RunFiles:
    """The conflicts among the files of one run. ``reserved`` holds (path, what it is) of the
    run's own files; ``check(source)`` returns name -> Conflict of every patent to refuse."""

    def __init__(self, settings, reserved):
        self.outdir = os.path.realpath(settings.outdir)
        self.settings = settings
        self.views = settings.diff_view or settings.preview or settings.review
        self.reserved = {os.path.realpath(path): what for path, what in reserved}
        self.names = set()
        self.explicit = {}  # real path of a manifest "output" -> its Entry
        self.refused = {}

    def check(self, source):
        def entries():
            return (item for item in source if isinstance(item, Entry))

        for entry in entries():
            self.names.add(entry.name)
            if entry.output is not None:
                first = self.explicit.setdefault(real_path(entry.output), entry)
                if first is not entry:
                    self._refuse(entry.name, "output", entry.output,
                                 "the same file as the output of %s" % first.label())
        self._explicit_names = {entry.name for entry in self.explicit.values()}
        for entry in entries():
            self._check_inputs(entry)
            if entry.output is not None:
                self._check_output(entry)
        return self.refused

    def _refuse(self, name, field, path, problem):
        self.refused.setdefault(name, Conflict(field, path, problem))

    def _writer_of(self, real, other_than=None):
        """(name, field, path) of the output of a patent of the run that ``real`` is."""
        entry = self.explicit.get(real)
        if entry is not None and entry.name != other_than:
            return entry.name, "output", entry.output
        folder, base = os.path.split(real)
        candidates = []
        if folder == self.outdir:
            candidates = [(base[:-len(".marks.json")], "marks file")] if base.endswith(
                ".marks.json") else []
            if base.endswith(".pdf"):
                candidates.append((base[:-len(".pdf")], "marked PDF"))
            if self.views:
                candidates.append((base, "views folder"))
        elif self.views and folder.startswith(self.outdir + os.sep):
            candidates = [(os.path.relpath(real, self.outdir).split(os.sep)[0], "views folder")]
        for name, what in candidates:
            if name in self.names and name != other_than and not (
                    what == "marked PDF" and name in self._explicit_names):
                path = os.path.join(self.settings.outdir, os.path.relpath(real, self.outdir))
                return name, what, path
        return None

    def _check_inputs(self, entry):
        outputs = outputs_of(entry, self.settings)
        mine = {real_path(outputs[kind]) for kind in ("pdf", "marks", "views")}
        for field in INPUTS:
            path = getattr(entry, field)
            real = real_path(path)
            if real in self.reserved:
                self._refuse(entry.name, field, path, "is %s, not an input of a patent"
                             % self.reserved[real])
            elif real not in mine:  # its own outputs: the job refuses them with its own words
                writer = self._writer_of(real, entry.name)
                if writer is not None:
                    name, what, written = writer
                    self._refuse(name, "output" if what == "output" else what, written,
                                 "is the %s input of %s; refusing to overwrite an input"
                                 % (field, entry.label()))

    def _check_output(self, entry):
        real = real_path(entry.output)
        if real in self.reserved:
            problem = "is %s" % self.reserved[real]
        elif real == self.outdir:
            problem = "is OUTDIR itself"
        else:
            writer = self._writer_of(real, entry.name)
            if writer is None or writer[1] == "output":
                return
            problem = "is the %s of %s" % (writer[1], writer[0])
        self._refuse(entry.name, "output", entry.output, problem + "; each output needs a "
                     "file of its own")
