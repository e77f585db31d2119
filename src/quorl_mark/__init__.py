"""quorl-mark: draws marks given against a patent's full-text HTML onto its published PDF, and
reads the annotations of a PDF back as marks (pdf_annotations_to_marks, quorl-extract)."""
from quorl_mark.cli import main
from quorl_mark.extract import pdf_annotations_to_marks

__all__ = ["main", "ocr_pdf", "pdf_annotations_to_marks"]


def __getattr__(name):
    # ocr_pdf loads PyMuPDF; the commands import this package before they know they need it.
    if name == "ocr_pdf":
        from quorl_mark.ocr import ocr_pdf

        return ocr_pdf
    raise AttributeError("module %r has no attribute %r" % (__name__, name))
