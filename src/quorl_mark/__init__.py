"""quorl-mark: draws marks given against a patent's full-text HTML onto its published PDF, and
reads the annotations of a PDF back as marks (pdf_annotations_to_marks, quorl-extract)."""
from quorl_mark.cli import main
from quorl_mark.extract import pdf_annotations_to_marks

__all__ = ["main", "pdf_annotations_to_marks"]
