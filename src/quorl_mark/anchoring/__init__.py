"""Marks placed by what people and their tools hold rather than by offsets: phrases.py finds
mark records given by their text (and the quotes of annotations) in the document text through
one index of it (text_index.py), web_annotations.py reads W3C Web Annotations as mark records,
dom_text.py relates the document text to the text a browser's DOM gives (which annotation
positions count), and records.py places a marks file's records with them.

It imports only the shared modules; the per-patent job, quorl-text and the W3C export use it.
"""
from .dom_text import TextMap, body_text
from .phrases import DocumentText
from .records import anchor_marks
from .web_annotations import is_web_annotation, marks_of

__all__ = ["DocumentText", "TextMap", "anchor_marks", "body_text", "is_web_annotation",
           "marks_of"]
