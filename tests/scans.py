"""Scanned forms of test patents: every page rendered to a grayscale image, as a scanner makes it,
and put into an image-only PDF with no text and no vector drawings.

``scan_pdf(pdf_bytes, dpi=200, ...)`` returns the scanned PDF's bytes. Each page is rendered in
grayscale at ``dpi``, optionally turned by ``skew`` degrees (a sheet fed a little crooked),
given light Gaussian noise, stored as JPEG at ``quality`` and placed on a page of the original
size. ``rotate`` turns chosen pages by 90, 180 or 270 degrees (the page then takes the turned
image's shape, as a sheet scanned sideways does); ``blank`` replaces chosen pages by an empty
sheet's noise. Deterministic per ``seed``.

What an office scanner adds on top (``office_scan`` sets them as one leaves them): ``paper``, the
grey of the sheet (255 white), darkening by ``shade`` towards one corner (an uneven lid or
lamp); ``speckle``, dark specks per square inch of dust and toner; ``bilevel``, an image of black
and white pixels only, thresholded as a fax-mode scanner does, stored CCITT G4 compressed
instead of JPEG.
"""
from __future__ import annotations

import io
import random
import statistics
from typing import Dict, Iterable

import pymupdf
from PIL import Image, ImageChops, ImageDraw

# The defects of an office scanner's default setting, as users' scans show them.
OFFICE = dict(quality=70, noise=4.0, paper=232, shade=28, speckle=3.0)


def printed_line(text: str, dpi: int = 300) -> pymupdf.Pixmap:
    """A grey pixmap of ``text`` printed on one line, its resolution set (blank for "")."""
    doc = pymupdf.open()
    page = doc.new_page(width=200, height=40)
    if text:
        page.insert_text((10, 30), text, fontname="china-s", fontsize=20)
    pix = page.get_pixmap(dpi=dpi, colorspace=pymupdf.csGRAY)
    pix.set_dpi(dpi, dpi)
    return pix


def paper_of(image: Image.Image, paper: int, shade: int) -> Image.Image:
    """``image`` printed on a sheet of grey ``paper``, ``shade`` darker at its bottom right
    corner than at its top left: the ink stays as dark, the white turns grey."""
    if paper >= 255 and not shade:
        return image
    gradient = Image.linear_gradient("L")  # 256 x 256, 0 at the top, 255 at the bottom
    diagonal = ImageChops.add(gradient, gradient.transpose(Image.Transpose.ROTATE_90), scale=2.0)
    sheet = diagonal.resize(image.size).point(lambda v: round(paper - shade * v / 255))
    return ImageChops.multiply(image, sheet)


def speckled(image: Image.Image, per_square_inch: float, dpi: int, rng: random.Random):
    """``image`` with dark specks of one to three pixels at ``dpi``, about ``per_square_inch``."""
    count = round(per_square_inch * image.size[0] * image.size[1] / dpi ** 2)
    draw = ImageDraw.Draw(image)
    for _ in range(count):
        x, y = rng.randrange(image.size[0]), rng.randrange(image.size[1])
        r = rng.choice((0.5, 1, 1.5)) * dpi / 300
        draw.ellipse((x - r, y - r, x + r, y + r), fill=rng.randint(0, 90))
    return image


def scan_image(page: pymupdf.Page, dpi: int, *, skew: float = 0.0, noise: float = 6.0,
               seed: int = 0, blank: bool = False, paper: int = 255, shade: int = 0,
               speckle: float = 0.0) -> Image.Image:
    """The grayscale image a scanner makes of one page."""
    pix = page.get_pixmap(dpi=dpi, colorspace=pymupdf.csGRAY, alpha=False)
    image = Image.frombytes("L", (pix.width, pix.height), pix.samples)
    if blank:
        image = Image.new("L", image.size, 255)
    if skew:
        image = image.rotate(skew, resample=Image.BICUBIC, fillcolor=255)
    image = paper_of(image, paper, shade)
    if speckle:
        image = speckled(image, speckle, dpi, random.Random("speckle-%d" % seed))
    if noise:
        # Gaussian grain from a seeded generator (PIL's effect_noise draws from the C library's
        # rand(), which earlier calls in the process move): uniform bytes mapped through the
        # normal distribution's inverse, so the same seed gives the same scan in any process.
        normal = statistics.NormalDist(128, noise)
        table = [min(255, max(0, round(normal.inv_cdf((u + 0.5) / 256)))) for u in range(256)]
        rng = random.Random(seed)
        grain = Image.frombytes("L", image.size, rng.randbytes(image.size[0] * image.size[1]))
        image = ImageChops.add(image, grain.point(table), scale=1.0,
                               offset=rng.randint(-2, 2) - 128)
    return image


def jpeg(image: Image.Image, quality: int) -> bytes:
    out = io.BytesIO()
    image.save(out, "JPEG", quality=quality)
    return out.getvalue()


def bilevel_g4(image: Image.Image) -> bytes:
    """``image`` as black and white pixels, a TIFF compressed CCITT G4 as fax-mode scanners
    store it; the threshold is the middle between paper and ink."""
    out = io.BytesIO()
    image.point(lambda v: 255 if v > 150 else 0).convert("1", dither=Image.Dither.NONE).save(
        out, "TIFF", compression="group4")
    return out.getvalue()


def scan_pdf(pdf: bytes, dpi: int = 200, *, skew: float = 0.0, noise: float = 6.0,
             quality: int = 80, seed: int = 0, rotate: Dict[int, int] | None = None,
             blank: Iterable[int] = (), paper: int = 255, shade: int = 0,
             speckle: float = 0.0, bilevel: bool = False) -> bytes:
    """The image-only PDF of ``pdf`` scanned at ``dpi`` (see the module's docstring)."""
    rotate = rotate or {}
    blank = set(blank)
    source = pymupdf.open("pdf", pdf)
    scanned = pymupdf.open()
    for page in source:
        image = scan_image(page, dpi, skew=skew, noise=noise, seed=seed * 1000 + page.number,
                           blank=page.number in blank, paper=paper, shade=shade,
                           speckle=speckle)
        turn = rotate.get(page.number, 0)
        if turn % 360:
            if turn % 90:
                raise ValueError("pages turn by multiples of 90 degrees")
            image = image.rotate(turn, expand=True)
        width, height = page.rect.width, page.rect.height
        if turn % 180:
            width, height = height, width
        target = scanned.new_page(width=width, height=height)
        target.insert_image(target.rect,
                            stream=bilevel_g4(image) if bilevel else jpeg(image, quality))
    data = scanned.tobytes(garbage=1, deflate=True, no_new_id=True)
    scanned.close()
    source.close()
    return data


def office_scan(pdf: bytes, dpi: int = 300, *, skew: float = 0.0, seed: int = 0,
                bilevel: bool = False) -> bytes:
    """``pdf`` scanned as an office scanner leaves it (OFFICE): grey paper shaded towards one
    corner, JPEG at quality 70, sparse speckle; or in black and white, CCITT G4."""
    return scan_pdf(pdf, dpi, skew=skew, seed=seed, bilevel=bilevel, **OFFICE)
