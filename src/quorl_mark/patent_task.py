"""One patent of a batch, as a child process runs it and as its report line records it.

``mark_one`` runs in the child: it measures the inputs (size and SHA-256), skips a patent marked
before from the same inputs, and otherwise marks it with job.mark_to_files, the code behind
quorl-mark, into OUTDIR. ``record`` turns the pool's Outcome into the report line, removing the
temporary files a child killed while writing left behind.
"""
import dataclasses
import glob
import hashlib
import json
import os
import time

from . import job
from .errors import JobError

TARGET = "quorl_mark.patent_task:mark_one"
DONE = ("ok", "skipped")


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


def outputs_of(entry, settings):
    """The marked PDF, the marks file and the folder of the views of one patent."""
    return {"pdf": entry.output or os.path.join(settings.outdir, entry.name + ".pdf"),
            "marks": os.path.join(settings.outdir, entry.name + ".marks.json"),
            "views": os.path.join(settings.outdir, entry.name)}


def measure(path):
    """{"size", "sha256"} of an input file, None for a file that cannot be read."""
    digest = hashlib.sha256()
    try:
        with open(path, "rb") as f:
            size = 0
            for block in iter(lambda: f.read(1 << 20), b""):
                digest.update(block)
                size += len(block)
    except (OSError, TypeError):
        return None
    return {"size": size, "sha256": digest.hexdigest()}


def fingerprint(inputs):
    """A short digest of the inputs' sizes and hashes, to compare with an earlier run."""
    return hashlib.blake2b(json.dumps(inputs, sort_keys=True).encode(), digest_size=12).digest()


def mark_one(entry, settings, earlier=None):
    """The report fields of one patent, marked (or skipped when ``earlier``, the fingerprint of
    the inputs its last successful run used, still holds and its outputs are there)."""
    start = time.perf_counter()
    inputs = {kind: measure(getattr(entry, kind)) for kind in ("html", "pdf", "marks")}
    outputs = outputs_of(entry, settings)
    fields = {"inputs": inputs, "pages": None, "marks": None, "unplaced": None, "warnings": []}
    if (earlier is not None and not settings.force and fingerprint(inputs) == earlier
            and all(os.path.isfile(outputs[kind]) for kind in ("pdf", "marks"))):
        fields.update(status="skipped", error=None,
                      seconds={"total": time.perf_counter() - start})
        return fields
    try:
        result, _ = job.mark_to_files(
            entry.html, entry.pdf, entry.marks, outputs["pdf"], marks_out=outputs["marks"],
            diff_view=os.path.join(outputs["views"], "diff") if settings.diff_view else None,
            preview=os.path.join(outputs["views"], "preview") if settings.preview else None,
            review=os.path.join(outputs["views"], "review") if settings.review else None,
            dpi=settings.dpi, allow_mismatch=settings.allow_mismatch, verbose=settings.verbose,
            ocr=settings.ocr, ocr_jobs=1, skip_unplaced=settings.skip_unplaced)
    except JobError as e:
        fields.update(status="failed", error=str(e),
                      seconds={"total": time.perf_counter() - start})
        return fields
    seconds = dict(result.seconds)
    total = time.perf_counter() - start
    seconds["write"] = max(0.0, total - sum(seconds.values()))
    seconds["total"] = total
    fields.update(status="ok", error=None, pages=result.pages,
                  marks=len(result.marks) - result.unplaced, unplaced=result.unplaced,
                  warnings=result.warnings, seconds=seconds)
    return fields


def remove_leftovers(entry, settings):
    """Removes the temporary files of a patent whose child was killed while writing them."""
    outputs = outputs_of(entry, settings)
    patterns = [os.path.join(os.path.dirname(outputs[kind]),
                             "." + glob.escape(os.path.basename(outputs[kind])) + ".*.part")
                for kind in ("pdf", "marks")]
    patterns += [os.path.join(glob.escape(outputs["views"]), folder, ".*.part")
                 for folder in ("diff", "preview", "review", os.path.join("review", "pages"))]
    for pattern in patterns:
        for path in glob.glob(pattern):
            try:
                os.unlink(path)
            except OSError:
                pass


def record(entry_name, outcome, settings, entry=None):
    """The report line of one attempt, from the pool's Outcome."""
    line = {"name": entry_name, "status": outcome.status, "error": outcome.error,
            "pages": None, "marks": None, "unplaced": None, "seconds": {"total": outcome.seconds},
            "worker": outcome.worker, "inputs": None}
    if outcome.status == "ok":
        line.update(outcome.value)
    elif entry is not None:
        remove_leftovers(entry, settings)
    line["time"] = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())
    return line
