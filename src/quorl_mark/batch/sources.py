"""The patents of a batch: a folder of NAME.html, NAME.pdf and NAME.marks.json (or NAME.json)
files, or a JSON Lines manifest with one patent per line.

Both give, lazily and in order, an Entry per patent to mark or a Refusal per patent (or manifest
line) that cannot even be attempted, with a message naming it.
"""
import dataclasses
import json
import os
from typing import Optional

from ..errors import JobError

MANIFEST_KEYS = ("name", "html", "pdf", "marks")
OPTIONAL_KEYS = ("output",)


@dataclasses.dataclass(frozen=True)
class Entry:
    """One patent: its name (the stem of its outputs) and the absolute paths of its inputs;
    ``output`` the marked PDF's path when the manifest gives one; ``where`` its manifest line
    ("MANIFEST: line N") for messages."""
    name: str
    html: str
    pdf: str
    marks: str
    output: Optional[str] = None
    where: Optional[str] = None

    def label(self):
        """The patent as other patents' messages name it."""
        return self.name if self.where is None else "%s (%s)" % (
            self.where.rpartition(": ")[2], self.name)


@dataclasses.dataclass(frozen=True)
class Refusal:
    """A patent, or a manifest line, refused before any work: ``name`` is the patent's name or
    "line N" when it has none."""
    name: str
    error: str


def plain_name(name):
    """Whether ``name`` can name output files inside OUTDIR and nothing else."""
    return (isinstance(name, str) and name not in ("", ".", "..") and "/" not in name
            and "\\" not in name and "\0" not in name and name.strip() == name
            and not name.startswith("."))


class Source:
    """Where the patents come from; iterate it for Entries and Refusals."""

    def __init__(self, path):
        self.path = os.path.abspath(path)
        if os.path.isdir(self.path):
            self.folder = self.path
        elif os.path.isfile(self.path):
            self.folder = None
        elif os.path.exists(self.path):
            raise JobError(path, "arguments", "neither a folder nor a manifest file")
        else:
            raise JobError(path, "arguments", "no such folder or manifest file")

    def count(self):
        """How many patents (or manifest lines) there are, for the progress display."""
        if self.folder is not None:
            return len(self._folder_names())
        with open(self.path, "rb") as f:
            return sum(1 for line in f if line.strip())

    def __iter__(self):
        return self._folder() if self.folder is not None else self._manifest()

    def nothing_found(self):
        """Where a source without a single patent was looked for and what it should hold."""
        if self.folder is None:
            return ("%s: no patents found: the manifest has no lines; each line is a JSON "
                    "object with the keys name, html, pdf and marks (and optionally output)"
                    % self.path)
        with os.scandir(self.folder) as entries:
            others = sorted(entry.name for entry in entries)
        text = ("%s: no patents found: each patent is NAME.html, NAME.pdf and NAME.marks.json "
                "(or NAME.json) in this folder" % self.folder)
        if others:
            text += "; it holds %d other file%s, such as %s" % (
                len(others), "" if len(others) == 1 else "s", ", ".join(others[:3]))
        return text

    # --- a folder ----------------------------------------------------------------------------

    def _folder_names(self):
        names = set()
        with os.scandir(self.folder) as entries:
            for entry in entries:
                stem, dot, ext = entry.name.rpartition(".")
                if dot and ext in ("html", "pdf") and plain_name(stem):
                    names.add(stem)
        return sorted(names)

    def _folder(self):
        for name in self._folder_names():
            base = os.path.join(self.folder, name)
            marks = [path for path in (base + ".marks.json", base + ".json")
                     if os.path.exists(path)]
            if len(marks) > 1:
                yield Refusal(name, "%s: both %s.marks.json and %s.json are there; which marks "
                              "are meant is ambiguous" % (self.folder, name, name))
                continue
            yield Entry(name, base + ".html", base + ".pdf",
                        marks[0] if marks else base + ".marks.json")

    # --- a manifest --------------------------------------------------------------------------

    def _manifest(self):
        folder = os.path.dirname(self.path)
        seen = set()
        try:
            f = open(self.path, "rb")
        except OSError as e:
            raise JobError(self.path, "read", "cannot read it: %s" % (e.strerror or e)) from None
        with f:
            for number, raw in enumerate(f, 1):
                if not raw.strip():
                    continue
                where = "%s: line %d" % (self.path, number)
                try:
                    record = json.loads(raw.decode("utf-8-sig" if number == 1 else "utf-8"))
                except UnicodeDecodeError as e:
                    yield Refusal("line %d" % number, "%s: not UTF-8 text (byte %d)"
                                  % (where, e.start))
                    continue
                except json.JSONDecodeError as e:
                    yield Refusal("line %d" % number, "%s: malformed JSON: %s (column %d)"
                                  % (where, e.msg, e.colno))
                    continue
                problem = manifest_problem(record)
                name = record.get("name") if isinstance(record, dict) else None
                # A duplicate is named by its line: its name's lines are the earlier patent's.
                label = name if plain_name(name) and name not in seen else "line %d" % number
                if problem is None and name in seen:
                    problem = "name: %r was given on an earlier line" % name
                if problem is not None:
                    yield Refusal(label, "%s: %s" % (where, problem))
                    continue
                seen.add(name)

                def resolve(key):
                    value = record.get(key)
                    return None if value is None else os.path.join(folder, value)

                yield Entry(name, resolve("html"), resolve("pdf"), resolve("marks"),
                            resolve("output"), where)


def manifest_problem(record):
    """What is wrong with one manifest record, or None."""
    if not isinstance(record, dict):
        return "expected a JSON object, found %s" % type(record).__name__
    for key in MANIFEST_KEYS:
        if key not in record:
            return "the key %r is missing" % key
    for key in MANIFEST_KEYS + OPTIONAL_KEYS:
        if key in record and not (isinstance(record[key], str) and record[key]):
            return "%s: must be a non-empty string, not %s" % (key, json.dumps(record[key]))
        if key in record and "\0" in record[key]:
            return "%s: holds a NUL character" % key
    unknown = sorted(set(record) - set(MANIFEST_KEYS + OPTIONAL_KEYS))
    if unknown:
        return "unknown key %r (the keys are %s)" % (
            unknown[0], ", ".join(MANIFEST_KEYS + OPTIONAL_KEYS))
    if not plain_name(record["name"]):
        return "name: %r is not a plain file name" % record["name"]
    return None
