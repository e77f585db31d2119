"""Scanned forms of test patents: every page rendered to a grayscale image, as a scanner makes it,
and put into an image-only PDF with no text and no vector drawings.

``scan_pdf(pdf_bytes, dpi=200, ...)`` returns the scanned PDF's bytes. Each page is rendered in
grayscale at ``dpi``, optionally turned by ``skew`` degrees (a sheet fed a little crooked),
given light Gaussian noise, stored as JPEG at ``quality`` and placed on a page of the original
size. ``rotate`` turns chosen pages by 90, 180 or 270 degrees (the page then takes the turned
image's shape, as a sheet scanned sideways does); ``blank`` replaces chosen pages by an empty
sheet's noise. Deterministic per ``seed``.
"""
from __future__ import annotations

import io
import random
import statistics
from typing import Dict, Iterable

import pymupdf
from PIL import Image, ImageChops


def scan_image(page: pymupdf.Page, dpi: int, *, skew: float = 0.0, noise: float = 6.0,
               seed: int = 0, blank: bool = False) -> Image.Image:
    """The grayscale image a scanner makes of one page."""
    pix = page.get_pixmap(dpi=dpi, colorspace=pymupdf.csGRAY, alpha=False)
    image = Image.frombytes("L", (pix.width, pix.height), pix.samples)
    if blank:
        image = Image.new("L", image.size, 255)
    if skew:
        image = image.rotate(skew, resample=Image.BICUBIC, fillcolor=255)
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


def scan_pdf(pdf: bytes, dpi: int = 200, *, skew: float = 0.0, noise: float = 6.0,
             quality: int = 80, seed: int = 0, rotate: Dict[int, int] | None = None,
             blank: Iterable[int] = ()) -> bytes:
    """The image-only PDF of ``pdf`` scanned at ``dpi`` (see the module's docstring)."""
    rotate = rotate or {}
    blank = set(blank)
    source = pymupdf.open("pdf", pdf)
    scanned = pymupdf.open()
    for page in source:
        image = scan_image(page, dpi, skew=skew, noise=noise, seed=seed * 1000 + page.number,
                           blank=page.number in blank)
        turn = rotate.get(page.number, 0)
        if turn % 360:
            if turn % 90:
                raise ValueError("pages turn by multiples of 90 degrees")
            image = image.rotate(turn, expand=True)
        width, height = page.rect.width, page.rect.height
        if turn % 180:
            width, height = height, width
        target = scanned.new_page(width=width, height=height)
        target.insert_image(target.rect, stream=jpeg(image, quality))
    data = scanned.tobytes(garbage=1, deflate=True, no_new_id=True)
    scanned.close()
    source.close()
    return data
