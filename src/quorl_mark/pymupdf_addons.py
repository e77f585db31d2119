"""Keeps PyMuPDF's optional add-ons out of the processes quorl's commands start.

PyMuPDF 2 imports its layout-analysis package (onnxruntime, numpy) and pymupdf4llm whenever they
are installed, and the full ``pymupdf`` distribution installs both: that triples the time and
memory of ``import quorl`` (1.0 s of CPU and 144 MB instead of 0.22 s and 54 MB here), which
every child process and every quorl-mark call would pay. quorl uses neither. PyMuPDF imports
them inside ``try: ... except ImportError``, so marking them absent in sys.modules (the import
system's own way to block a module) leaves PyMuPDF exactly as without them.
"""
import sys

ADDONS = ("pymupdf.layout", "pymupdf4llm")


def skip_pymupdf_addons():
    """Blocks the add-ons, unless PyMuPDF is already loaded (then it is too late, and the
    process is someone else's to shape)."""
    if "pymupdf" in sys.modules or "fitz" in sys.modules:
        return
    for name in ADDONS:
        sys.modules.setdefault(name, None)
