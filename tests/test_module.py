"""The module's published names and the outside facilities it binds."""
import subprocess
import sys

import bs4
import pymupdf

import quorl


def test_imported_facilities_are_the_libraries_themselves():
    assert quorl.fitz is pymupdf
    assert quorl.BeautifulSoup is bs4.BeautifulSoup
    assert quorl.SoupStrainer is bs4.SoupStrainer
    assert quorl.reduce.__module__ == "_functools"
    assert quorl.__test__ == {}


def test_importing_the_module_loads_pymupdfs_core_only():
    """A program that imports quorl pays for PyMuPDF's core alone: nothing of the full pymupdf
    distribution's layout analysis (numpy, onnxruntime, pymupdf4llm) comes along."""
    loaded = subprocess.run(
        [sys.executable, "-c", "import quorl, sys; print(' '.join(sorted(sys.modules)))"],
        capture_output=True, text=True, check=True).stdout.split()
    assert "pymupdf" in loaded
    assert [name for name in loaded if name.split(".")[0] in ("numpy", "onnxruntime",
            "pymupdf4llm") or name == "pymupdf.layout"] == []
