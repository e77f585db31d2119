"""Measures of an OCR'd patent against its text PDF, shared by bench_ocr.py and the OCR tests:
character similarity of page texts, and how the marks' rectangles and PDF lines agree."""


def edit_distance(a, b):
    """Levenshtein distance of two strings."""
    from rapidfuzz.distance import Levenshtein

    return Levenshtein.distance(a, b)


def similarity(truth, found):
    """1 - edit distance / length of the true text, whitespace left out of both; never below
    0 (a found text much longer than the truth is as bad as none)."""
    truth, found = "".join(truth.split()), "".join(found.split())
    return max(0.0, 1 - edit_distance(truth, found) / max(1, len(truth)))


def _area(r):
    return max(0.0, r[2] - r[0]) * max(0.0, r[3] - r[1])


def _intersection(a, b):
    return _area((max(a[0], b[0]), max(a[1], b[1]), min(a[2], b[2]), min(a[3], b[3])))


def page_iou(rects_a, rects_b):
    """Intersection over union of two sets of rectangles of one page (each set's rectangles,
    one per line, do not overlap one another)."""
    common = sum(_intersection(a, b) for a in rects_a for b in rects_b)
    union = sum(map(_area, rects_a)) + sum(map(_area, rects_b)) - common
    return common / union if union > 0 else 0.0


def mark_ious(text_rects, ocr_rects):
    """page -> IoU of one mark's rectangles ([page, x0, y0, x1, y1] lists) in the text PDF and
    in the OCR'd PDF, over every page either puts it on."""
    pages = {r[0] for r in text_rects} | {r[0] for r in ocr_rects}
    return {p: page_iou([r[1:] for r in text_rects if r[0] == p],
                        [r[1:] for r in ocr_rects if r[0] == p]) for p in pages}


def model_page_texts(pdfdoc):
    """The texts of a PdfDocument's lines joined per page, in its reading order."""
    texts = [""] * pdfdoc.pagecount
    for line in pdfdoc.lines:
        texts[line["page"]] += line["text"] + "\n"
    return texts


def _page_chars(page):
    """(character, x of its origin, its baseline's y, size) of a PyMuPDF page, blanks left out."""
    return [(char["c"], char["origin"][0], char["origin"][1], span["size"])
            for block in page.get_text("rawdict")["blocks"] for line in block.get("lines", ())
            for span in line["spans"] for char in span["chars"] if not char["c"].isspace()]


def char_offsets(truth_page, found_page):
    """How far (in em) each character of ``found_page`` that agrees with ``truth_page``'s
    text stands from the same character there, the two texts aligned by difflib."""
    import difflib

    truth, found = _page_chars(truth_page), _page_chars(found_page)
    matcher = difflib.SequenceMatcher(None, [c[0] for c in truth], [c[0] for c in found],
                                      autojunk=False)
    return [abs(found[j][1] - truth[i][1]) / truth[i][3]
            for tag, i1, i2, j1, j2 in matcher.get_opcodes() if tag == "equal"
            for i, j in zip(range(i1, i2), range(j1, j2))
            if abs(found[j][2] - truth[i][2]) < truth[i][3]]
