"""quorl-mark: draws marks given against a patent's full-text HTML onto its published PDF, and
reads the annotations of a PDF back as marks (pdf_annotations_to_marks, quorl-extract).

The package is laid out by capability, and its imports point one way, each part using only the
parts below it (tests/test_package_layout.py holds it to that):

- ``commands/``: the command lines (quorl-mark, quorl-batch, quorl-text, quorl-extract);
- ``batch/`` (many patents in child processes or on Dask) and ``extract/`` (annotations read
  back as marks), which use the per-patent job;
- ``job``: one patent's job, marks in and outputs out;
- ``ocr/`` (a text layer for scanned pages) and ``review/`` (the review page and the diff
  views), which the job runs;
- the modules every part shares: ``inputs``, ``outputs``, ``errors``, ``vocabulary``,
  ``diagnostics``, and ``children`` with ``worker`` (the child processes batch and OCR run in);
- below them all, the quorl module.
"""
import importlib

__all__ = ["main", "ocr_pdf", "pdf_annotations_to_marks"]

# Each is imported when first asked for: the child processes that read a scan's pages or mark
# patents import this package, and need none of them (the commands' import alone costs a child
# a sixteenth of a second); ocr_pdf loads PyMuPDF.
_HOMES = {"main": "quorl_mark.commands.mark", "ocr_pdf": "quorl_mark.ocr.document",
          "pdf_annotations_to_marks": "quorl_mark.extract.marks"}


def __getattr__(name):
    if name in _HOMES:
        return getattr(importlib.import_module(_HOMES[name]), name)
    raise AttributeError("module %r has no attribute %r" % (__name__, name))


def __dir__():
    return sorted(list(globals()) + list(_HOMES))
