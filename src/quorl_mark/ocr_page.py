"""One scanned page recognised, as a child process of quorl_mark.ocr does it.

``recognise_page`` gets the page as a one-page PDF and returns plain data: the page's turn (the
quarter turns Tesseract's orientation detection asks for), the size of the upright page and the
pieces of text Tesseract recognised on it, each a list of (character, x0, y0, x1, y1) in the
upright page's points; with ``rules`` also the horizontal rules of the page image. A page that
cannot be read raises JobError with the reason (the page's warning).
"""
import re
import subprocess

import pymupdf

from .errors import JobError

# Tesseract's orientation detection reads a page well at this resolution, in a second.
OSD_DPI = 150
# Below this confidence the orientation detection is guessing; the page is read as it is.
OSD_MIN_CONFIDENCE = 1.0
# A page image with fewer pixels per inch than this holds characters a few pixels tall.
MIN_IMAGE_DPI = 70
# A rule is at least this share of the page's width long.
RULE_SHARE = 0.4


def image_resolution(page):
    """The pixels per inch of the largest image shown on the page, None without images."""
    best = None
    for info in page.get_image_info():
        bbox = pymupdf.Rect(info["bbox"])
        if bbox.is_empty or not info.get("width"):
            continue
        dpi = min(info["width"] / bbox.width, info["height"] / bbox.height) * 72
        area = bbox.width * bbox.height
        if best is None or area > best[0]:
            best = (area, dpi, info["width"], info["height"])
    return best


def orientation(page):
    """The degrees (0, 90, 180, 270) the page must turn clockwise to stand upright, as
    Tesseract's orientation detection sees it; 0 when it cannot tell."""
    png = page.get_pixmap(dpi=OSD_DPI, colorspace=pymupdf.csGRAY).tobytes("png")
    done = subprocess.run(["tesseract", "stdin", "stdout", "--psm", "0", "--dpi", str(OSD_DPI)],
                          input=png, capture_output=True, timeout=120)
    report = done.stdout.decode("utf-8", "replace")
    turn = re.search(r"Rotate:\s*(\d+)", report)
    confidence = re.search(r"Orientation confidence:\s*([\d.]+)", report)
    if not turn or not confidence or float(confidence.group(1)) < OSD_MIN_CONFIDENCE:
        return 0
    return int(turn.group(1)) % 360


def _glyph_pieces(ocr_page, scale):
    pieces = []
    for block in ocr_page.get_text("rawdict")["blocks"]:
        for line in block.get("lines", ()):
            piece = []
            for span in line["spans"]:
                for char in span["chars"]:
                    x0, y0, x1, y1 = (v * scale for v in char["bbox"])
                    piece.append((char["c"], x0, y0, x1, y1))
            pieces.append(piece)
    return pieces


def _rules(pix, zoom):
    import quorl

    rules = quorl._find_rules(pix.samples_mv, pix.width, pix.height, pix.stride, pix.n,
                              min_length=int(pix.width * RULE_SHARE))
    return [(x0 / zoom, center / zoom, x1 / zoom) for x0, _, x1, _, center in rules]


def recognise_page(page_pdf, language, dpi, tessdata, rules=False, detect_turn=True):
    """The recognised text of the only page of ``page_pdf`` (see the module's docstring)."""
    doc = pymupdf.open("pdf", page_pdf)
    try:
        page = doc[0]
        image = image_resolution(page)
        if image is not None and image[1] < MIN_IMAGE_DPI:
            raise JobError(None, "ocr", "its image is too small to read (%d x %d pixels, "
                           "%d dpi)" % (image[2], image[3], image[1]))
        turn = orientation(page) if detect_turn else 0
        zoom = dpi / 72
        pix = page.get_pixmap(matrix=pymupdf.Matrix(zoom, zoom).prerotate(turn),
                              colorspace=pymupdf.csRGB, alpha=False)
        pix.set_dpi(dpi, dpi)
        ocr = pymupdf.open("pdf", pix.pdfocr_tobytes(language=language, tessdata=tessdata))
        ocr_page = ocr[0]
        # The OCR page measures the image at its resolution; the upright page measures the
        # scanned page in points, which may differ by a rounded pixel.
        size = (pix.width / zoom, pix.height / zoom)
        found = {"turn": turn, "size": size,
                 "pieces": _glyph_pieces(ocr_page, size[0] / ocr_page.rect.width)}
        if rules:
            found["rules"] = _rules(pix, zoom)
        return found
    finally:
        doc.close()
