"""quorl-mark: draws marks given against a patent's full-text HTML onto its published PDF."""
from quorl_mark.cli import main

__all__ = ["main", "ocr_pdf"]


def __getattr__(name):
    # ocr_pdf loads PyMuPDF; the commands import this package before they know they need it.
    if name == "ocr_pdf":
        from quorl_mark.ocr import ocr_pdf

        return ocr_pdf
    raise AttributeError("module %r has no attribute %r" % (__name__, name))
