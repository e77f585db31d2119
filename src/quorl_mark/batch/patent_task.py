"""One patent of a batch, as a child process runs it and as its report line records it.

``mark_one`` runs in the child: it removes what an earlier attempt left behind, measures the
inputs (size and SHA-256), skips a patent marked before exactly as now asked, and otherwise
marks it with job.mark_to_files, the code behind quorl-mark, into OUTDIR. ``record`` turns the
pool's Outcome into the report line, removing the temporary files a child killed while writing
left behind.

A patent is skipped only when the fingerprint of its last good run (see ``fingerprint``) is the
fingerprint of now: the same inputs, the same output paths holding the very files written then,
and the same options that shape the outputs.
"""
import contextlib
import dataclasses
import glob
import hashlib
import json
import os
import re
import stat
import time
from typing import Optional

from .. import job
from ..errors import JobError

TARGET = "quorl_mark.batch.patent_task:mark_one"
DONE = ("ok", "skipped")
VIEWS = ("diff", "preview", "review")
# A scan's OCR'd PDF, in the patent's views folder.
OCR_KEPT = "ocr.pdf"

# Without --timeout a patent may run this long: a base for starting up and writing, and a share
# per MB of its inputs (an OCR'd scan reads a page in seconds, a page is some 100 KB).
DEFAULT_TIMEOUT_BASE = 120.0
DEFAULT_TIMEOUT_PER_MB = 120.0


@dataclasses.dataclass(frozen=True)
class Settings:
    """What every patent of one batch is marked with."""
    outdir: str
    diff_view: bool = False
    preview: bool = False
    review: bool = False
    dpi: int = 100
    allow_mismatch: bool = False
    force: bool = False
    verbose: bool = False
    ocr: str = "auto"  # --ocr of quorl-mark; each patent's pages are read in its own child
    skip_unplaced: bool = False
    timeout: Optional[float] = None  # seconds per patent; None: default_timeout

    def shaping(self):
        """The options the outputs depend on, as the report records them."""
        pages = self.preview or self.review
        return {"diff_view": self.diff_view, "preview": self.preview, "review": self.review,
                "dpi": self.dpi if pages else None, "ocr": self.ocr,
                "skip_unplaced": self.skip_unplaced, "allow_mismatch": self.allow_mismatch}

    def views(self):
        return [view for view, on in zip(VIEWS, (self.diff_view, self.preview, self.review))
                if on]


def input_megabytes(entry):
    """The size of the regular files among a patent's inputs, in MB."""
    size = 0
    for path in (entry.html, entry.pdf, entry.marks):
        with contextlib.suppress(OSError, TypeError):
            info = os.stat(path)
            if stat.S_ISREG(info.st_mode):
                size += info.st_size
    return size / 2**20


def default_timeout(entry):
    """Seconds a patent may run when --timeout is not given."""
    return round(DEFAULT_TIMEOUT_BASE + DEFAULT_TIMEOUT_PER_MB * input_megabytes(entry))


def timeout_of(entry, settings):
    return settings.timeout if settings.timeout is not None else default_timeout(entry)


def outputs_of(entry, settings):
    """The marked PDF, the marks file and the folder of the views of one patent."""
    return {"pdf": entry.output or os.path.join(settings.outdir, entry.name + ".pdf"),
            "marks": os.path.join(settings.outdir, entry.name + ".marks.json"),
            "views": os.path.join(settings.outdir, entry.name)}


def measure(path):
    """{"size", "sha256"} of a file, None for one that is missing, cannot be read or is not a
    regular file (a device or a FIFO is never read here: /dev/zero would never end)."""
    digest = hashlib.sha256()
    try:
        if not stat.S_ISREG(os.stat(path).st_mode):
            return None
        with open(path, "rb") as f:
            size = 0
            for block in iter(lambda: f.read(1 << 20), b""):
                digest.update(block)
                size += len(block)
    except (OSError, TypeError):
        return None
    return {"size": size, "sha256": digest.hexdigest()}


def measure_outputs(entry, settings):
    """Path, size and SHA-256 of the marked PDF and the marks file, and of the files of each
    views folder asked for, as they are now."""
    paths = outputs_of(entry, settings)
    found = {kind: dict(measure(paths[kind]) or {}, path=paths[kind])
             for kind in ("pdf", "marks")}
    for view in settings.views():
        folder = os.path.join(paths["views"], view)
        digest, count = hashlib.sha256(), 0
        for root, dirs, files in os.walk(folder):
            dirs.sort()
            for name in sorted(files):
                if name.startswith("."):
                    continue
                path = os.path.join(root, name)
                digest.update(json.dumps([os.path.relpath(path, folder), measure(path)],
                                         sort_keys=True).encode() + b"\n")
                count += 1
        found[view] = {"path": folder, "files": count, "sha256": digest.hexdigest()}
    return found


def fingerprint(inputs, outputs, options):
    """A short digest of a run of one patent: its inputs' sizes and hashes, its outputs' paths,
    sizes and hashes and the options that shaped them, to compare with an earlier run."""
    return hashlib.blake2b(json.dumps([inputs, outputs, options], sort_keys=True).encode(),
                           digest_size=12).digest()


_LABELS = {"-o": "the marked PDF", "--marks-out": "the marks file", "--diff-view": "the diff "
           "views", "--preview": "the previews", "--review": "the review page"}
_LABEL = re.compile(r"(?<!\S)(%s)(?!\S)" % "|".join(map(re.escape, _LABELS)))
_INPUT_LABEL = re.compile(r"\bthe input (?:PATENT\.html|PATENT\.pdf|MARKS\.json) ")


def in_batch_words(error, entry):
    """A JobError of quorl-mark as a batch user reads it: the options quorl-mark would name
    (-o, --marks-out, ...) are no options of quorl-batch; a manifest's patent is named by its
    line and the field that gave the file."""
    file, reason = error.file, _INPUT_LABEL.sub("the input ", error.reason)
    reason = _LABEL.sub(lambda m: _LABELS[m.group(1)], reason)
    field = None
    if file is not None:
        label, _, path = file.partition(" ")
        if label in _LABELS and path:
            file, field = path, "output" if label == "-o" and entry.output else None
        elif file.startswith("the folder of "):
            file = file[len("the folder of "):]
            reason = "its folder " + reason if not reason.startswith("its folder") else reason
        for key in ("html", "pdf", "marks"):
            if file == getattr(entry, key):
                field = key
    text = reason if file is None else "%s: %s" % (file, reason)
    if entry.where is not None and field is not None:
        text = "%s: %s: %s" % (entry.where, field, text)
    return text


def remove_leftovers(entry, settings):
    """Removes what an attempt killed while writing left behind: the temporary files and
    backups beside the patent's outputs and the views folders it created but never filled."""
    outputs = outputs_of(entry, settings)
    random = "?" * 8  # the random part of a temporary file's name (tempfile.mkstemp)
    patterns = [os.path.join(glob.escape(os.path.dirname(outputs[kind])),
                             "." + glob.escape(os.path.basename(outputs[kind])) + "."
                             + random + suffix)
                for kind in ("pdf", "marks") for suffix in (".part", ".old")]
    views = glob.escape(outputs["views"])
    patterns += [os.path.join(views, folder, ".*.part")
                 for folder in VIEWS + (os.path.join("review", "pages"), "")]
    for pattern in patterns:
        for path in glob.glob(pattern):
            with contextlib.suppress(OSError):
                os.unlink(path)
    for folder in (os.path.join("review", "pages"),) + VIEWS + ("",):
        with contextlib.suppress(OSError):  # not there, or not empty: kept
            os.rmdir(os.path.join(outputs["views"], folder))


def mark_one(entry, settings, earlier=None):
    """The report fields of one patent, marked (or skipped when ``earlier``, the fingerprint of
    its last good run, is the fingerprint of now)."""
    start = time.perf_counter()
    remove_leftovers(entry, settings)
    inputs = {kind: measure(getattr(entry, kind)) for kind in ("html", "pdf", "marks")}
    outputs = outputs_of(entry, settings)
    options = settings.shaping()
    fields = {"inputs": inputs, "pages": None, "marks": None, "unplaced": None, "warnings": [],
              "options": options}
    if earlier is not None and not settings.force:
        found = measure_outputs(entry, settings)
        if fingerprint(inputs, found, options) == earlier:
            fields.update(status="skipped", error=None, outputs=found,
                          seconds={"total": time.perf_counter() - start})
            return fields
    # A scan's OCR'd PDF is kept beside the views, and a later attempt with --ocr auto reads
    # it instead of the scan while it is newer: the OCR is paid once, also when the marking
    # failed after it.
    ocr_kept = os.path.join(outputs["views"], OCR_KEPT) if settings.ocr != "never" else None
    pdf = entry.pdf
    with contextlib.suppress(OSError):
        if settings.ocr == "auto" and os.stat(ocr_kept).st_mtime >= os.stat(entry.pdf).st_mtime:
            pdf = ocr_kept
    try:
        result, _ = job.mark_to_files(
            entry.html, pdf, entry.marks, outputs["pdf"], marks_out=outputs["marks"],
            diff_view=os.path.join(outputs["views"], "diff") if settings.diff_view else None,
            preview=os.path.join(outputs["views"], "preview") if settings.preview else None,
            review=os.path.join(outputs["views"], "review") if settings.review else None,
            dpi=settings.dpi, allow_mismatch=settings.allow_mismatch, verbose=settings.verbose,
            ocr=settings.ocr, ocr_jobs=1, skip_unplaced=settings.skip_unplaced,
            ocr_out=ocr_kept if pdf == entry.pdf else None)
    except JobError as e:
        fields.update(status="failed", error=in_batch_words(e, entry),
                      seconds={"total": time.perf_counter() - start})
        return fields
    fields["outputs"] = measure_outputs(entry, settings)
    seconds = dict(result.seconds)
    total = time.perf_counter() - start
    seconds["write"] = max(0.0, total - sum(seconds.values()))
    seconds["total"] = total
    fields.update(status="ok", error=None, pages=result.pages,
                  marks=len(result.marks) - result.unplaced, unplaced=result.unplaced,
                  warnings=result.warnings, seconds=seconds)
    return fields


def record(entry_name, outcome, settings, entry=None):
    """The report line of one attempt, from the pool's Outcome."""
    error = outcome.error
    if outcome.status == "timeout" and settings.timeout is None and entry is not None:
        error += " (the default for its %.1f MB of inputs; --timeout sets another)" % (
            input_megabytes(entry))
    line = {"name": entry_name, "status": outcome.status, "error": error,
            "pages": None, "marks": None, "unplaced": None, "seconds": {"total": outcome.seconds},
            "worker": outcome.worker, "inputs": None, "attempt": outcome.attempt}
    if not outcome.final:
        line["retrying"] = True
    if outcome.status == "ok":
        line.update(outcome.value)
    elif entry is not None:
        remove_leftovers(entry, settings)
    line["time"] = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())
    return line
