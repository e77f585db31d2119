"""A scanned page image cleaned before Tesseract reads it, with OpenCV.

Office scanners leave the paper grey and unevenly lit, JPEG artefacts around the characters and
specks of dust and toner; fax-mode scans are black and white with the same specks; a sheet may
be fed a few degrees crooked. Tesseract thresholds a page once over its whole area, so a shaded
corner turns into ink or faint strokes into paper, and it reads specks as punctuation ("，",
"。") or as characters ("人") glued to the lines beside them. The page is therefore given a white
background (each pixel divided by the paper's brightness around it) and its isolated specks are
painted white, before Tesseract, the rule finder and the ink search look at it. Ink near other
ink is never removed: a full stop or a comma stands next to the characters it follows. A page a
fifth of a degree or more off level is turned level about its middle: its lines would otherwise
run into one another and its columns' gutter close up, and the text layer is then laid where a
level sheet prints its text, on the page shown level (document.py).
"""
import pymupdf

# The paper's brightness is measured over this window (in inches), wider than any stroke.
BACKGROUND_WINDOW = 0.12
# Darker than this share of the paper's brightness is ink.
INK_SHARE = 0.6
# A speck: a blot of ink smaller than this (in square points, a full stop is about 2) ...
SPECK_AREA = 1.2
# ... with no larger ink within this distance (in points; a character is about 10 wide).
SPECK_ISOLATION = 6.0
# A blot smaller than this (in square points) is a speck wherever it lies: the smallest printed
# mark, a Latin full stop or the dot of an i, is about 0.8.
TINY_SPECK_AREA = 0.4
# A sheet fed crooked is looked for up to this many degrees off level, in these steps ...
MAX_SKEW = 5.0
COARSE_STEP = 0.5
SKEW_STEP = 0.1
# ... on the page shrunk to this width in pixels ...
SKEW_WIDTH = 600
# ... and turned level when it is at least this far off: below it a line's ends are less than a
# point off where a level sheet prints them.
LEAST_SKEW = 0.2


def _array(pix):
    import numpy

    rows = numpy.frombuffer(pix.samples_mv, dtype=numpy.uint8).reshape(pix.height, pix.stride)
    return rows[:, :pix.width * pix.n:pix.n]  # the first channel: the pixmap is grey


def _odd(n):
    n = max(3, int(n))
    return n if n % 2 else n + 1


def white_background(gray, dpi):
    """``gray`` divided by the paper's brightness around each pixel: paper 255, ink as dark
    against its paper as it was printed."""
    import cv2

    size = _odd(BACKGROUND_WINDOW * dpi)
    kernel = cv2.getStructuringElement(cv2.MORPH_RECT, (size, size))
    # Closing removes every stroke narrower than the window; the median smooths JPEG blocks.
    paper = cv2.medianBlur(cv2.morphologyEx(gray, cv2.MORPH_CLOSE, kernel), 5)
    return cv2.divide(gray, paper, scale=255)


def blots(ink):
    """cv2.connectedComponentsWithStats of ``ink`` (0 and 1), 8-connected: the count, the labels
    and the stats. The labels are 16-bit while they fit, as on any printed page: a page's
    labelling then takes a third of the time (half the memory to write), and a page of more
    blots than that, a speckled one, is labelled again in 32 bits."""
    import cv2

    try:
        return cv2.connectedComponentsWithStats(ink, connectivity=8, ltype=cv2.CV_16U)[:3]
    except cv2.error:  # more blots than 16 bits count
        return cv2.connectedComponentsWithStats(ink, connectivity=8, ltype=cv2.CV_32S)[:3]


def without_specks(gray, dpi):
    """``gray`` with its specks painted white: each tiny blot, and each small blot with no
    larger ink in the square of SPECK_ISOLATION around its box. Only the neighbourhoods of the
    small blots are looked at (a page has a few hundred), never the whole page again."""
    import cv2
    import numpy

    ink = (gray < int(255 * INK_SHARE)).astype(numpy.uint8)
    _, labels, stats = blots(ink)
    areas = stats[:, cv2.CC_STAT_AREA]
    small = areas < SPECK_AREA * (dpi / 72) ** 2
    small[0] = False  # the background
    larger = ~small
    larger[0] = False
    tiny = TINY_SPECK_AREA * (dpi / 72) ** 2
    reach = int(SPECK_ISOLATION * dpi / 72)
    out = gray
    for label in numpy.flatnonzero(small):
        x, y, width, height, area = stats[label]
        around = labels[max(0, y - reach):y + height + reach, max(0, x - reach):x + width + reach]
        isolated = not larger[around].any()
        if area >= tiny and not isolated:
            continue
        if out is gray:
            out = gray.copy()
        if isolated:  # its lighter halo (JPEG, blur) goes with it
            out[max(0, y - 1):y + height + 1, max(0, x - 1):x + width + 1] = 255
        else:  # beside a character: its own pixels only
            box = out[y:y + height, x:x + width]
            box[labels[y:y + height, x:x + width] == label] = 255
    return out


def skew_angle(gray):
    """The degrees ``gray`` (white paper) is turned counterclockwise off level: the angle that
    turns it back so that its rows of ink are sharpest (their ink counts differ the most from
    row to row), 0 on a page without ink."""
    import cv2
    import numpy

    scale = min(1.0, SKEW_WIDTH / gray.shape[1])
    small = cv2.resize(gray, None, fx=scale, fy=scale, interpolation=cv2.INTER_AREA)
    ink = (small < int(255 * INK_SHARE)).astype(numpy.float32)
    if not ink.any():
        return 0.0
    center = (ink.shape[1] / 2, ink.shape[0] / 2)

    def sharpness(angle):
        turn = cv2.getRotationMatrix2D(center, -angle, 1.0)
        rows = cv2.warpAffine(ink, turn, (ink.shape[1], ink.shape[0])).sum(axis=1)
        return float(numpy.square(numpy.diff(rows)).sum())

    # Coarse steps over the whole range, then fine ones around the best of them.
    coarse = max(numpy.arange(-MAX_SKEW, MAX_SKEW + 1e-9, COARSE_STEP), key=sharpness)
    fine = numpy.arange(coarse - COARSE_STEP, coarse + COARSE_STEP + 1e-9, SKEW_STEP)
    return round(float(max(fine, key=sharpness)), 2)


def level(gray, angle):
    """``gray`` turned ``angle`` degrees clockwise about its middle, new corners white."""
    import cv2

    turn = cv2.getRotationMatrix2D((gray.shape[1] / 2, gray.shape[0] / 2), -angle, 1.0)
    # Each pixel is taken, not blended: a blend blurs thin strokes, and Tesseract then misreads
    # the letter-spaced words of a running header far more often.
    return cv2.warpAffine(gray, turn, (gray.shape[1], gray.shape[0]), flags=cv2.INTER_NEAREST,
                          borderValue=255)


def encoded(pix):
    """``pix`` (grey) as the bytes of an image file for Tesseract: a bitmap (PBM) when it is
    black and white only, as a fax-mode scan is, which spares Tesseract its thresholding (a
    tenth of its time on a page, for the same reading); grey (PNM) otherwise."""
    import cv2

    gray = _array(pix)
    if not black_and_white(gray):
        return pix.tobytes("pnm")
    return cv2.imencode(".pbm", gray)[1].tobytes()


def black_and_white(gray):
    """Whether ``gray`` holds no grey between black and white."""
    import cv2

    return not cv2.countNonZero(cv2.inRange(gray, 1, 254))


def cleaned(pix):
    """A grey pixmap of ``pix`` (grey, its resolution set) with a white background and no
    isolated specks, turned level when it is LEAST_SKEW or more off, at the same size and
    resolution."""
    return cleaned_level(pix)[0]


def cleaned_level(pix):
    """``cleaned(pix)`` and the degrees it was turned clockwise to stand level (0.0 when it was
    not turned)."""
    dpi = pix.xres or 300
    gray = _array(pix)
    if not black_and_white(gray):  # a fax-mode scan's paper is white already
        gray = white_background(gray, dpi)
    gray = without_specks(gray, dpi)
    angle = skew_angle(gray)
    if abs(angle) >= LEAST_SKEW:
        gray = level(gray, angle)
    else:
        angle = 0.0
    out = pymupdf.Pixmap(pymupdf.csGRAY, pix.width, pix.height, gray.tobytes(), False)
    out.set_dpi(pix.xres, pix.yres)
    return out, angle
