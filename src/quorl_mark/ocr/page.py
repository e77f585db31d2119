"""One scanned page recognised, as a child process of quorl_mark.ocr does it.

``recognise_page`` gets the page as a one-page PDF and returns plain data: the page's turn (the
quarter turns Tesseract's orientation detection asks for), the degrees it was then turned to
stand level (clean.py), the size of the upright page, the lines Tesseract recognised on it
(hocr.OcrLine, in the upright page's points, each box set to the line's ink, the header's first) and how many of them are the header's; with ``rules`` also the horizontal
rules of the page image. A page that cannot be read raises JobError with the reason (the
page's warning).

Tesseract is run (tesseract.py) rather than PyMuPDF's built-in OCR because its hOCR tells where
each line's ink and baseline are; PyMuPDF's OCR spreads characters over guessed boxes and drops
some short lines.
"""
import re
import statistics
import subprocess

import pymupdf

from . import hocr, layout as ocr_layout, running_header, tesseract
from .clean import cleaned_level, encoded
from .specks import words_without_specks
from ..errors import JobError

# Tesseract's orientation detection reads a page well at this resolution, in a second.
OSD_DPI = 150
# Below this confidence the orientation detection is guessing; the page is read as it is.
OSD_MIN_CONFIDENCE = 1.0
# A page read with at least this many characters at this confidence stands upright.
UPRIGHT_CHARACTERS = 20
UPRIGHT_CONFIDENCE = 60
# A page image with fewer pixels per inch than this holds characters a few pixels tall.
MIN_IMAGE_DPI = 70
# A rule is at least this share of the page's width long.
RULE_SHARE = 0.4
# How far around a line's box its ink is looked for, in the box's heights.
INK_PAD = 0.3
# Tesseract reads a page as one block of text, its lines split at wide gaps afterwards
# (lines.py): on generated patents this drops fewer lines and misreads fewer short ones
# than its automatic layout analysis (bench/bench_ocr.py --tune), in less time.
PAGE_SEGMENTATION = 6
# A line with a word below this confidence is read again on its own, as one line (at most
# MAX_REREADS lines of a page).
LINE_SEGMENTATION = 7
DOUBTFUL = 10
MAX_REREADS = 30
# A line read with less confidence than this, read again or not, is what Tesseract makes of a
# figure's strokes or of specks.
GARBAGE = 25
# A line read with less confidence than this, in a box this many times as tall as the page's
# lines usually are, is a formula printed as an image.
FORMULA_CONFIDENCE = 40
FORMULA_HEIGHT = 1.7
# A drawings page's header names them; on it only the figures' captions ("图1", "图2A") are
# text, and the rest is what Tesseract makes of the figures' strokes.
DRAWINGS_WORD = "附图"
CAPTION = re.compile(r"^图\d+[A-Za-z]?$")
# What Tesseract makes of a caption standing alone ("加1" for "图1"): one Chinese character and
# a figure's number is, on a drawings page, a caption whose 图 was misread.
MISREAD_CAPTION = re.compile(r"^[^\x00-\x7f]\d+[A-Za-z]?$")
# What Tesseract reads after a caption where a speck or a figure's stroke stands beside it.
STRAY_MARKS = "!|.,'`:;"
# A line of a drawings page read with less confidence than this, in a box this many times as
# wide as its characters are tall, is what Tesseract makes of a figure's stroke.
STROKE_CONFIDENCE = 50
STROKE_WIDTH = 4
SPARSE_SEGMENTATION = 11
WORD_SEGMENTATION = 8
# A page without a header's rule that shows a figure and no more characters than this is a
# drawings page.
FEW_CHARACTERS = 40
# A line of at most this many characters may be a misread caption.
CAPTION_CHARS = 5
# A caption stands under its figure, its top at most this far (points) above the figure's
# bottom.
CAPTION_OVERLAP = 2.0
# Images reach Tesseract uncompressed, through a pipe: PNG's compression of a page at 300 dpi
# costs a third of a second, its decompression in Tesseract more.
IMAGE_FORMAT = "pnm"


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
    image = page.get_pixmap(dpi=OSD_DPI, colorspace=pymupdf.csGRAY).tobytes(IMAGE_FORMAT)
    done = subprocess.run(["tesseract", "stdin", "stdout", "--psm", "0", "--dpi", str(OSD_DPI)],
                          input=image, capture_output=True, timeout=120)
    report = done.stdout.decode("utf-8", "replace")
    turn = re.search(r"Rotate:\s*(\d+)", report)
    confidence = re.search(r"Orientation confidence:\s*([\d.]+)", report)
    if not turn or not confidence or float(confidence.group(1)) < OSD_MIN_CONFIDENCE:
        return 0
    return int(turn.group(1)) % 360


def _tesseract(pix, language, tessdata, segmentation):
    """Tesseract's hOCR of ``pix`` (its resolution set)."""
    return _tesseract_each([pix], language, tessdata, segmentation)


def _tesseract_each(pixes, language, tessdata, segmentation):
    """Tesseract's hOCR of the images ``pixes`` (their resolution set), one page each."""
    return tesseract.hocr([encoded(pix) for pix in pixes], pixes[0].xres, language, tessdata,
                          segmentation)


def _confidence(words):
    """The words' confidence, each counting as often as it has characters."""
    chars = sum(len(w.text) for w in words)
    return sum(w.confidence * len(w.text) for w in words) / chars if chars else 0.0


def read_each(lines, pix, language, tessdata, zoom, segmentation=LINE_SEGMENTATION):
    """The words Tesseract reads in each of ``lines``' boxes (a little around them) on its own,
    in one run for them all; an empty list for a box off the page."""
    areas, crops = [], []
    page = pymupdf.IRect(0, 0, pix.width, pix.height)
    for line in lines:
        x0, y0, x1, y1 = _pixel_box(line.box, zoom)
        pad = _pad((x0, y0, x1, y1))
        area = pymupdf.IRect(x0 - pad, y0 - pad, x1 + pad, y1 + pad) & page
        areas.append(area)
        if not area.is_empty:
            crop = pymupdf.Pixmap(pix.colorspace, area, False)
            crop.copy(pix, area)
            crop.set_dpi(pix.xres, pix.yres)
            crops.append(crop)
    if not crops:
        return [[] for _ in lines]
    read = iter(hocr.parse_pages(
        _tesseract_each(crops, language, tessdata, segmentation), 1 / zoom,
        [(area.x0, area.y0) for area in areas if not area.is_empty]))
    return [[] if area.is_empty else [word for again in next(read) for word in again.words]
            for area in areas]


def reread(lines, pix, language, tessdata, zoom):
    """``lines`` each read again on its own, as one line of text, and kept as read again when
    that reads it with more confidence. Tesseract, reading a page, now and then turns part of a
    line or a lone short line into a few wrong characters with no confidence."""
    return [line._replace(words=words) if words and
            _confidence(words) > _confidence(line.words) else line
            for line, words in zip(lines, read_each(lines, pix, language, tessdata, zoom))]


def has_ink(pix):
    """Whether ``pix`` shows anything darker than paper: Tesseract, reading a blank scan as a
    block of text, makes characters of its grain."""
    import quorl

    return quorl._ink_boxes(pix.samples_mv, pix.width, pix.height, pix.stride, pix.n,
                            [(0, 0, pix.width, pix.height)])[0] is not None


def read_lines(pix, language, tessdata, rules=(), first_page=False, part=None):
    """The lines Tesseract reads in ``pix`` (its resolution set, cleaned), in page
    points, each set to its ink; the doubtful ones of the first page and of the header read
    again (_doubtful), the garbage left out: the header's lines and the others, apart. The page
    is read by the regions of its layout (layout.py; ``rules`` as _find_rules gives them),
    a drawings page for its captions only. ``part`` names a later page's part as the pages
    around it tell, whatever its header reads."""
    drawings = part == running_header.DRAWINGS
    text_part = part is not None and not drawings
    if not has_ink(pix):
        return [], []
    found = ocr_layout.regions(pix, rules, first_page)
    if len(found) == 1:
        lines = lines_of(_tesseract(pix, language, tessdata, PAGE_SEGMENTATION), pix, language,
                         tessdata, doubtful=_doubtful(first_page))
        if first_page or text_part or not (drawings or _drawings_alone(pix, found[0], lines)):
            return [], lines
        # A drawings page without a rule under its header: its lines as read, captions read
        # right and a figure's strokes left out, and the captions Tesseract lost beside the
        # figures.
        lines = [as_caption(line) or line for line in lines if not _a_stroke(line)]
        known = {_place(line) for line in lines}
        lost = _caption_lines(pix, pix, found, language, tessdata, lines)
        return [], lines + [line for line in lost if _place(line) not in known]
    clean = ocr_layout.without_rules(pix, rules)
    if first_page:  # the abstract's figure: what Tesseract reads in it is garbage
        pix = ocr_layout.painted_out(pix, ocr_layout.figure_boxes(pix, found))
    if first_page or not found[0].header:
        read = _read_regions(pix, found, language, tessdata)
        # A header's words stand alone, each with a confidence of its own: none is garbage.
        return tuple(lines_of_each(
            [([line for i, line in read if found[i].header], 0, DOUBTFUL),
             ([line for i, line in read if not found[i].header], GARBAGE, _doubtful(first_page))],
            clean, language, tessdata))
    if drawings:
        return (_header(pix, clean, found[0], language, tessdata, _read_head(
                    pix, found, language, tessdata), running_header.DRAWINGS),
                _caption_lines(pix, clean, found[1:], language, tessdata))
    share = 0.0 if text_part else ocr_layout.figure_share(pix, found[1:])
    if share >= ocr_layout.SOME_FIGURE:
        # Perhaps a drawings page: its header read first, its figures never read when it
        # names the drawings (Tesseract takes long over a drawing, for garbage).
        read_head = _read_head(pix, found, language, tessdata)
        head = _header(pix, clean, found[0], language, tessdata, read_head)
        # A description's page is never mostly figure: a misread name read as the
        # description's is the drawings' name with its last characters lost.
        if is_drawings(head) or (share >= ocr_layout.FIGURE_PAGE and
                                 running_header.misread_name(read_head) == "说明书"):
            return (running_header.header_lines(head, running_header.DRAWINGS),
                    _caption_lines(pix, clean, found[1:], language, tessdata))
    read = _read_regions(pix, found, language, tessdata)
    head = _header(pix, clean, found[0], language, tessdata,
                   [line for i, line in read if found[i].header], part)
    body = [line for i, line in read if not found[i].header]
    if not text_part and is_drawings(head):
        return head, _caption_lines(pix, clean, found[1:], language, tessdata, body)
    return head, lines_of(body, clean, language, tessdata, doubtful=_doubtful(first_page))


def _doubtful(first_page):
    """The confidence below which a word's line of a page's text is read again: on the first
    page only. On later pages, of long lines of running text, reading again changed less than
    a thousandth of the characters of real publications, for a sixth of the page's time; their
    headers are read again all the same (_header)."""
    return DOUBTFUL if first_page else 0


def _drawings_alone(pix, region, lines):
    """Whether a page without a header's rule, read as ``lines``, is a drawings page: one with
    a caption, mostly figure, or with a figure and hardly any text (its header, a page number).
    """
    if any(CAPTION.match(hocr.text_of(line)) for line in lines):
        return True
    if ocr_layout.mostly_figure(pix, [region]):
        return True
    return sum(len(hocr.text_of(line)) for line in lines) <= FEW_CHARACTERS and bool(
        ocr_layout.each_figure(pix, region, joined=True))


def _read_head(pix, found, language, tessdata):
    return [line for _, line in _read_regions(pix, found[:1], language, tessdata)]


def _caption_lines(pix, clean, regions, language, tessdata, read=()):
    """lines_of the captions of a drawings page's ``regions`` (_captions), their ink looked for
    in ``clean``: each is a caption as read, none is read again."""
    return lines_of(_captions(pix, regions, language, tessdata, read), clean, language,
                    tessdata, least_confidence=0, doubtful=0)


def _read_regions(pix, found, language, tessdata, segmentation=PAGE_SEGMENTATION):
    """(index of its region, line in page points) of each line Tesseract reads in the regions
    stacked."""
    image, starts, gap = ocr_layout.stacked(pix, found)
    zoom = pix.xres / 72
    out = []
    for line in hocr.parse(_tesseract(image, language, tessdata, segmentation), 1.0):
        i = ocr_layout.region_of(line.box, found, starts)
        if i is not None:
            out.append((i, hocr.moved(line, (found[i].x0 - gap, found[i].y0 - starts[i]),
                                      1 / zoom)))
    return out


def _captions(pix, regions, language, tessdata, read=()):
    """The captions of a drawings page's ``regions`` (those among the lines ``read`` in them).
    Unless each figure has its caption (_each_captioned), they are read again with the figures
    painted out, as a block and then as sparse text, and the reading that finds the most is
    kept: beside a figure's strokes Tesseract often loses a caption's 图 or the whole caption,
    and each way of reading finds some that the other loses."""
    captions = [line for line in map(as_caption, read) if line is not None]
    figures = [box for r in regions for box in ocr_layout.each_figure(pix, r, joined=True)]
    # A page left almost blank: Tesseract, thresholding it as a whole, would take the grain
    # of the paper for ink.
    bare = ocr_layout.painted_out(pix, figures, paper=ocr_layout.FIGURE_INK)
    if not ocr_layout.has_ink_in(bare, regions):
        return captions
    short, seen = {}, list(read)
    for segmentation in (PAGE_SEGMENTATION, SPARSE_SEGMENTATION):
        if captions and _each_captioned([_points(box, pix) for box in figures], captions,
                                         seen):
            return captions
        lines = [(line, as_caption(line)) for _, line in _read_regions(
            bare, regions, language, tessdata, segmentation)]
        seen += [line for line, _ in lines]
        again = [caption for _, caption in lines if caption is not None]
        if len(again) > len(captions):
            captions = again
        short.update((_place(line), line) for line, caption in lines
                     if caption is None and len(hocr.text_of(line)) <= CAPTION_CHARS)
    # Short lines that are no caption as read: read again each as one word, as which
    # Tesseract reads an isolated caption right far more often ("图2", read "败2" in a block).
    taken = {_place(line) for line in captions}
    short = [line for place, line in short.items() if place not in taken]
    words = read_each(short, bare, language, tessdata, bare.xres / 72, WORD_SEGMENTATION)
    found = [as_caption(line._replace(words=w)) for line, w in zip(short, words) if w]
    return sorted(captions + [line for line in found if line is not None],
                  key=lambda line: (line.box[1], line.box[0]))


def _points(box, pix):
    return tuple(v * 72 / pix.xres for v in box)


def _each_captioned(figures, captions, lines):
    """Whether each of a drawings page's ``figures`` (boxes in points) has a caption of its own
    under it. What each_figure takes for figures are the separate pieces of ink, a line of text
    among them (a header with no rule under it): so the pieces on a line read with confidence
    (``lines``) are left out, pieces whose boxes overlap are one figure, and each
    figure counts for the first row of captions under it; no row may count more figures than it
    has captions. A figure lost its caption when none is under it, or when its caption's row
    counts it with another figure above or beside it."""
    text = [line.box for line in lines
            if _confidence(line.words) >= STROKE_CONFIDENCE and as_caption(line) is None]
    figures = [box for box in figures if not any(_on_a_line(box, t) for t in text)]
    rows = []  # [top, bottom, captions] of captions standing side by side
    for box in sorted((line.box for line in captions), key=lambda box: box[1]):
        if rows and box[1] < rows[-1][1]:
            rows[-1][1], rows[-1][2] = max(rows[-1][1], box[3]), rows[-1][2] + 1
        else:
            rows.append([box[1], box[3], 1])
    counted = [0] * len(rows)
    for figure in _overlapping(figures):
        under = [i for i, row in enumerate(rows) if row[0] >= figure[3] - CAPTION_OVERLAP]
        if not under:
            return False
        counted[under[0]] += 1
    return all(n <= row[2] for n, row in zip(counted, rows))


def _on_a_line(box, line_box):
    """Whether ``box``, a piece of ink as each_figure boxes it (its ink joined and widened),
    stands within the height of ``line_box`` and beside or over it: a line of text."""
    pad = (ocr_layout.FIGURE_MARGIN + ocr_layout.FIGURE_JOIN) * 72
    return line_box[1] - pad <= box[1] and box[3] <= line_box[3] + pad and \
        box[0] < line_box[2] and line_box[0] < box[2]


def _overlapping(boxes):
    """The boxes around each set of ``boxes`` that overlap, one another or in a chain."""
    merged = []  # never overlapping one another
    for box in boxes:
        box = list(box)
        while True:
            other = next((m for m in merged if m[0] < box[2] and box[0] < m[2] and
                          m[1] < box[3] and box[1] < m[3]), None)
            if other is None:
                break
            merged.remove(other)
            box = [min(box[0], other[0]), min(box[1], other[1]),
                   max(box[2], other[2]), max(box[3], other[3])]
        merged.append(box)
    return merged


def _place(line):
    """Where a line stands, to a few points: the same caption read twice stands in one place."""
    return round(line.box[0] / 8), round(line.box[1] / 8)


def as_caption(line):
    """``line`` as a drawings page's caption, its misread 图 read right and a stray mark after
    it ("图1!", a speck or a stroke beside it) left out; None when it is none."""
    words = list(line.words)
    while words and words[-1].text.rstrip(STRAY_MARKS) != words[-1].text:
        kept = words[-1].text.rstrip(STRAY_MARKS)
        words[-1:] = [words[-1]._replace(text=kept)] if kept else []
    if not words:
        return None
    line = line._replace(words=words)
    text = hocr.text_of(line)
    if CAPTION.match(text):
        return line
    if not MISREAD_CAPTION.match(text):
        return None
    first = line.words[0]
    return line._replace(words=[first._replace(text="图" + first.text[1:])] + line.words[1:])


def _a_stroke(line):
    """Whether a line read on a drawings page is a figure's stroke: a character or two read with
    little confidence in a box many times as wide as they are."""
    chars = len(hocr.text_of(line))
    height = line.box[3] - line.box[1]
    return chars <= 2 and _confidence(line.words) < STROKE_CONFIDENCE and \
        line.box[2] - line.box[0] > STROKE_WIDTH * chars * height


def _header(pix, clean, region, language, tessdata, head, name=None):
    """A later page's header lines ``head`` as the text layer sets them (running_header.py),
    its part's name ``name`` when given. They are read again as sparse text when they hold no
    part's name (Tesseract, reading a line, misreads the letter-spaced words of a running
    header, "权 利 要 求 书", that it reads right one by one), and each word with little
    confidence again on its own (in ``clean``), before the name is looked for once more."""
    if name is None and running_header.part_name(head) is None:
        again = [line for _, line in _read_regions(pix, [region], language, tessdata,
                                                   SPARSE_SEGMENTATION)]
        if running_header.part_name(again) is not None:
            head = again
    finished = running_header.header_lines(lines_of(
        running_header.header_lines(head), clean, language, tessdata, least_confidence=0), name)
    if name is not None and running_header.part_name(finished) is None:
        finished = running_header.with_name(finished, name)
    return finished


def is_drawings(header_lines):
    """Whether a later page's header lines (each word on its own, as _header gives them) name
    the drawings ("说明书附图", a character of it perhaps misread)."""
    lines = list(header_lines)
    found = running_header.part_name(lines)
    return DRAWINGS_WORD in "".join(hocr.text_of(line) for line in lines) or (
        found is not None and found[0].endswith(DRAWINGS_WORD))


def lines_of(page_hocr, pix, language, tessdata, least_confidence=GARBAGE, doubtful=DOUBTFUL):
    """read_lines's lines from Tesseract's hOCR of the whole page (or its lines, in points),
    those with a word read with less than ``doubtful`` confidence read again, those read with
    less than ``least_confidence`` left out."""
    return lines_of_each([(page_hocr, least_confidence, doubtful)], pix, language, tessdata)[0]


def lines_of_each(groups, pix, language, tessdata):
    """lines_of for each group (page_hocr, least_confidence, doubtful) of one page's lines, the
    doubtful lines of them all read again in one Tesseract run (its model loaded once)."""
    zoom = pix.xres / 72
    found = []
    for page_hocr, _, doubtful in groups:
        parsed = hocr.parse(page_hocr, 1 / zoom) if isinstance(page_hocr, bytes) else page_hocr
        lines = ink_lines(words_without_specks(parsed, pix, zoom), pix, zoom)
        found.append((lines, [i for i, line in enumerate(lines)
                              if min(w.confidence for w in line.words) < doubtful][:MAX_REREADS]))
    read = iter(reread([lines[i] for lines, again in found for i in again], pix, language,
                       tessdata, zoom))
    out = []
    for (lines, again), (_, least_confidence, _) in zip(found, groups):
        for i in again:
            lines[i] = next(read)
        if least_confidence > 0:
            lines = _without_formulas(lines)
        out.append([line for line in lines if _confidence(line.words) >= least_confidence])
    return out


def _without_formulas(lines):
    """``lines`` with what Tesseract read in a formula printed as an image left out (a line of
    little confidence much taller than the others: a fraction, a sum), its paragraph number
    kept."""
    if len(lines) < 3:
        return lines
    usual = statistics.median(line.box[3] - line.box[1] for line in lines)
    out = []
    for line in lines:
        number = line.words[:1] if line.words[0].text.startswith("[") else []
        rest = line.words[len(number):]
        if rest and _confidence(rest) < FORMULA_CONFIDENCE and \
                line.box[3] - line.box[1] > FORMULA_HEIGHT * usual:
            if number:  # on the formula's baseline, in its own box
                out.append(line._replace(box=number[0].box, words=number))
            continue
        out.append(line)
    return out


def _pixel_box(box, zoom):
    x0, y0, x1, y1 = box
    return (int(x0 * zoom), int(y0 * zoom), int(x1 * zoom + 0.999), int(y1 * zoom + 0.999))


def _pad(box):
    """How far around a box of pixels its line's ink is looked for."""
    return int(INK_PAD * (box[3] - box[1])) + 1


def _ends(found, searched, given):
    """The ends (low, high) of ink ``found`` within ``searched``, each kept only where the ink
    stops inside the search: ink reaching its border runs on (a rule, a neighbour), and the
    ``given`` end stays."""
    if found is None:
        return given
    return (found[0] if found[0] > searched[0] else given[0],
            found[1] if found[1] < searched[1] else given[1])


def ink_lines(lines, pix, zoom):
    """The lines with their boxes set to their ink in ``pix``: Tesseract's box of a short line
    may miss a character or a part of one. The ink is looked for a little around the line's and
    its words' boxes: its left and right ends within the rows of the line's box, then its top
    and bottom within those columns."""
    import quorl

    if not lines:
        return lines
    image = (pix.samples_mv, pix.width, pix.height, pix.stride, pix.n)
    boxes = [_pixel_box(line.box, zoom) for line in lines]
    pads = [_pad(box) for box in boxes]
    wide = []
    for line, box, pad in zip(lines, boxes, pads):
        words = [_pixel_box(word.box, zoom) for word in line.words]
        wide.append((min([box[0]] + [w[0] for w in words]) - pad, box[1],
                     max([box[2]] + [w[2] for w in words]) + pad, box[3]))
    columns = [_ends(found and (found[0], found[2]), (w[0], w[2]), (box[0], box[2]))
               for found, w, box in zip(quorl._ink_boxes(*image, wide), wide, boxes)]
    tall = [(x0, box[1] - pad, x1, box[3] + pad)
            for (x0, x1), box, pad in zip(columns, boxes, pads)]
    rows = [_ends(found and (found[1], found[3]), (t[1], t[3]), (box[1], box[3]))
            for found, t, box in zip(quorl._ink_boxes(*image, tall), tall, boxes)]
    return [line._replace(box=(x0 / zoom, y0 / zoom, x1 / zoom, y1 / zoom))
            for line, (x0, x1), (y0, y1) in zip(lines, columns, rows)]


def _rules(pix):
    """The page image's rules, as _find_rules gives them (pixels)."""
    import quorl

    return quorl._find_rules(pix.samples_mv, pix.width, pix.height, pix.stride, pix.n,
                             min_length=int(pix.width * RULE_SHARE))


def _read_turned(page, turn, language, dpi, tessdata, first_page, part):
    """The page image turned ``turn`` degrees, cleaned and levelled, with the degrees it was
    levelled by, its rules, its header's lines and its other lines."""
    zoom = dpi / 72
    pix = page.get_pixmap(matrix=pymupdf.Matrix(zoom, zoom).prerotate(turn),
                          colorspace=pymupdf.csGRAY, alpha=False)
    pix.set_dpi(dpi, dpi)
    pix, skew = cleaned_level(pix)
    found_rules = _rules(pix)
    return (pix, skew, found_rules) + read_lines(pix, language, tessdata, found_rules,
                                                 first_page, part)


def reads_upright(lines):
    """Whether the lines read on a page show that it stands upright: enough characters, read
    with a confidence a turned page never gets (its strokes read as characters score about 30,
    upright text 75 to 90)."""
    words = [word for line in lines for word in line.words]
    return sum(len(word.text) for word in words) >= UPRIGHT_CHARACTERS and \
        _confidence(words) >= UPRIGHT_CONFIDENCE


def recognise_page(page_pdf, language, dpi, tessdata, rules=False, detect_turn=True,
                   part=None):
    """The recognised text of the only page of ``page_pdf`` (see the module's docstring), read
    as a page of ``part`` when given (see read_lines). The page is read as it stands;
    orientation detection runs only when that reading does not show it upright (most pages
    are, and the detection costs a fifth of a page's reading)."""
    doc = pymupdf.open("pdf", page_pdf)
    try:
        page = doc[0]
        image = image_resolution(page)
        if image is not None and image[1] < MIN_IMAGE_DPI:
            raise JobError(None, "ocr", "its image is too small to read (%d x %d pixels, "
                           "%d dpi)" % (image[2], image[3], image[1]))
        turn = 0
        pix, skew, found_rules, head, body = _read_turned(page, 0, language, dpi, tessdata,
                                                          rules, part)
        if detect_turn and not reads_upright(head + body):
            turn = orientation(page)
            if turn:
                pix, skew, found_rules, head, body = _read_turned(page, turn, language, dpi,
                                                                  tessdata, rules, part)
        zoom = dpi / 72
        found = {"turn": turn, "skew": skew, "size": (pix.width / zoom, pix.height / zoom),
                 "lines": head + body, "header": len(head)}
        if rules:
            found["rules"] = [(x0 / zoom, center / zoom, x1 / zoom)
                              for x0, _, x1, _, center in found_rules]
        return found
    finally:
        doc.close()
