"""Annotations read back as marks: marks.py turns a patent's annotated PDF into mark records
against its HTML document text (``pdf_annotations_to_marks``), reading the annotations with
annotations.py and the converter's PDF text with pdf_text.py; w3c.py writes the records as W3C
Web Annotations.

It may import the per-patent job and the shared modules, never the command lines.
"""
