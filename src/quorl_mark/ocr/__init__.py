"""Scanned patents: an invisible text layer for the pages that carry no text. document.py reads
a whole PDF (``ocr_pdf``, and the job's ``converter_with_text``), page.py one page in a child
process with Tesseract (tesseract.py: its library, or else its command), clean.py the page
image made white and level (OpenCV), layout.py the regions a page is read by (header, page 1's
columns, figures painted out), running_header.py the running header's words, hocr.py
Tesseract's output, lines.py the lines of the text layer, each character where the page prints
it.

It may import the shared modules (inputs, errors, children) and the quorl module; it never
imports the job, which runs it.
"""
