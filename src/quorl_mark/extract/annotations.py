"""The annotations of an annotated PDF as reading them back needs them: kind, author, subject,
content, geometry and colour of each, and which of them quorl's markers drew."""
import dataclasses
import itertools
import math
from typing import List, Optional, Tuple

from ..vocabulary import (AUTHOR, CLAIMS_FLAG_FILL, CLAIMS_FLAG_PAGE, CLAIMS_FLAG_RECT,
                         CLAIMS_FLAG_TEXT, FLAG_COLUMN, FLAG_FILL, FLAG_HEIGHT,
                         HIGHLIGHT_SUBJECT, IMAGE_LABEL_SUBJECT, NUMBER_SUBJECTS,
                         TEXT_MARKUP_KINDS)

# Points a label's or flag's geometry may differ by from what the markers compute (PDF files
# keep single precision), and the same for colour components.
GEOMETRY_TOLERANCE = 0.5
COLOR_TOLERANCE = 0.01

# A half-open stretch of the PDF text (newlines and no-break spaces not counted).
Stretch = Tuple[int, int]


@dataclasses.dataclass
class Annotation:
    """One annotation of the annotated PDF as this module reads it."""
    page: int
    order: int  # its place among the page's annotations
    kind: str  # PyMuPDF's name of the annotation type: "Highlight", "FreeText", ...
    author: str
    subject: str
    content: str
    rect: Tuple[float, float, float, float]
    quads: List[tuple]  # text markup: four (x, y) corners each
    color: Optional[Tuple[float, ...]]
    # Why its rectangle is no place on its page (numbers that are not finite, a place outside
    # the page), or None.
    misplaced: Optional[str] = None
    stretches: List[Stretch] = dataclasses.field(default_factory=list)

    @property
    def placed(self):
        return self.misplaced is None

    @property
    def is_quorl_highlight(self):
        return (self.kind == "Highlight" and self.author == AUTHOR
                and self.subject == HIGHLIGHT_SUBJECT)

    @property
    def is_quorl_label(self):
        return (self.kind == "FreeText" and self.author == AUTHOR
                and self.subject in NUMBER_SUBJECTS + (IMAGE_LABEL_SUBJECT,))

    def _is_flag_shaped(self, fill):
        x0, y0, x1, y1 = self.rect
        return (self.kind == "FreeText" and not self.subject and not self.author
                and near(x0, FLAG_COLUMN[0]) and near(x1, FLAG_COLUMN[1])
                and near(y1 - y0, FLAG_HEIGHT) and _same_color(self.color, fill))

    @property
    def is_claims_flag(self):
        return (self.page == CLAIMS_FLAG_PAGE and self.content == CLAIMS_FLAG_TEXT
                and near(self.rect[1], CLAIMS_FLAG_RECT[1])
                and self._is_flag_shaped(CLAIMS_FLAG_FILL))

    @property
    def is_flag(self):
        return self._is_flag_shaped(FLAG_FILL)

    @property
    def hex_color(self):
        if not self.color or len(self.color) != 3:
            return None
        return "#" + "".join("%02x" % round(255 * min(max(c, 0.0), 1.0)) for c in self.color)

    def quad_bounds(self):
        """The box around the quads of text markup; the annotation's rectangle otherwise (a
        highlight's rectangle is wider than its quads)."""
        points = [p for quad in self.quads for p in quad]
        if not points:
            return self.rect
        xs, ys = [x for x, _ in points], [y for _, y in points]
        return (min(xs), min(ys), max(xs), max(ys))

    def rect_quad(self):
        x0, y0, x1, y1 = self.rect
        return ((x0, y0), (x1, y0), (x0, y1), (x1, y1))

    def centre(self):
        x0, y0, x1, y1 = self.rect
        return ((x0 + x1) / 2, (y0 + y1) / 2)


def near(a, b):
    """Equal within GEOMETRY_TOLERANCE."""
    return abs(a - b) <= GEOMETRY_TOLERANCE


def _same_color(color, expected):
    return (color is not None and len(color) == len(expected)
            and all(abs(a - b) <= COLOR_TOLERANCE for a, b in zip(color, expected)))


def _annots(page):
    """The page's annotations in order; popups, links and form fields are not among them.
    (Page.annots() finds each one by walking the page's list again.)"""
    annot = page.first_annot
    while annot is not None:
        yield annot
        annot = annot.next


def _misplaced(rect, page):
    """Why ``rect`` is no place on ``page``, or None: its centre must lie on the page."""
    if not all(map(math.isfinite, rect)):
        return "its place on the page is not given in numbers"
    x, y = (rect[0] + rect[2]) / 2, (rect[1] + rect[3]) / 2
    # The page as shown and as stored (they differ on a rotated page), whichever is wider.
    box = page.rect | page.cropbox
    if box.x0 - GEOMETRY_TOLERANCE <= x <= box.x1 + GEOMETRY_TOLERANCE and \
            box.y0 - GEOMETRY_TOLERANCE <= y <= box.y1 + GEOMETRY_TOLERANCE:
        return None
    return ("it stands outside its page, centred at (%.0f, %.0f) on a page of %.0f by %.0f "
            "points" % (x, y, box.width, box.height))


def _written_rect(page, annot):
    """The annotation's /Rect as the file writes it, in the page's coordinates (unrotated, y
    downwards from the crop box's top left), or None when it is no rectangle of numbers."""
    try:
        kind, value = page.parent.xref_get_key(annot.xref, "Rect")
        numbers = [float(v) for v in value.strip("[]").split()] if kind == "array" else []
    except (ValueError, RuntimeError):
        return None
    if len(numbers) != 4:
        return None
    x0, y0, x1, y1 = numbers
    left, top = page.cropbox.x0, page.mediabox.y1 - page.cropbox.y0
    return (min(x0, x1) - left, top - max(y0, y1), max(x0, x1) - left, top - min(y0, y1))


def read_annotations(page):
    """The annotations of a PyMuPDF page."""
    annotations = []
    for order, annot in enumerate(_annots(page)):
        kind = annot.type[1]
        info = annot.info
        quads = []
        rect = tuple(float(v) for v in annot.rect)
        if kind in TEXT_MARKUP_KINDS:
            corners = [(float(x), float(y)) for x, y in (annot.vertices or [])]
            quads = [tuple(corners[i:i + 4]) for i in range(0, len(corners) - 3, 4)]
            written = None if corners else _written_rect(page, annot)
            if written:
                # Text markup may leave /QuadPoints out; its /Rect is then its one quad.
                # MuPDF bounds text markup by its quads, so it gives no rectangle for it.
                rect = x0, y0, x1, y1 = written
                quads = [((x0, y0), (x1, y0), (x0, y1), (x1, y1))]
            # A quad of a damaged file may not be a place on the page: it selects nothing.
            quads = [q for q in quads if all(map(math.isfinite, itertools.chain(*q)))]
        colors = annot.colors or {}
        color = colors.get("stroke") or colors.get("fill") or None
        annotations.append(Annotation(
            page=page.number, order=order, kind=kind, author=info.get("title") or "",
            subject=info.get("subject") or "", content=info.get("content") or "",
            rect=rect, quads=quads, color=tuple(float(c) for c in color) if color else None,
            misplaced=_misplaced(rect, page)))
    return annotations
