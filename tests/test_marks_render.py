"""Labels render legibly: MuPDF's renderer and poppler's pdftoppm both draw their text.

Chinese labels were once drawn with a Japanese font that lacks simplified characters such as 实:
MuPDF left them out and poppler drew empty boxes. These tests look at the pixels.
"""
import os
import shutil
import subprocess
import sys

import pymupdf
import pytest

import quorl

sys.path.insert(0, os.path.dirname(__file__))
import patents  # noqa: E402

ZOOM = 4
PURPLE, BLACK, RED = (128, 0, 128), (0, 0, 0), (255, 0, 0)


def render_mupdf(pdf, page, clip, tmp_path):
    pix = pymupdf.open("pdf", pdf)[page].get_pixmap(
        matrix=pymupdf.Matrix(ZOOM, ZOOM), clip=clip, alpha=False
    )
    return pix.width, pix.height, pix.n, pix.samples


def render_poppler(pdf, page, clip, tmp_path):
    if shutil.which("pdftoppm") is None:
        pytest.skip("pdftoppm (poppler-utils) is not installed; `make test` installs it")
    source = tmp_path / "label.pdf"
    source.write_bytes(pdf)
    x0, y0, x1, y1 = (round(v * ZOOM) for v in clip)
    root = tmp_path / "label"
    subprocess.run(
        ["pdftoppm", "-r", str(72 * ZOOM), "-f", str(page + 1), "-l", str(page + 1),
         "-x", str(x0), "-y", str(y0), "-W", str(x1 - x0), "-H", str(y1 - y0),
         "-png", "-singlefile", str(source), str(root)],
        check=True,
    )
    pix = pymupdf.Pixmap(str(root) + ".png")
    return pix.width, pix.height, pix.n, pix.samples


RENDERERS = [render_mupdf, render_poppler]
RENDERER_IDS = ["mupdf", "poppler"]


def ink(image, colour, tolerance=70):
    """Pixels (x, y) within `tolerance` of `colour` in every channel."""
    width, height, n, samples = image
    points = set()
    for y in range(height):
        row = y * width * n
        for x in range(width):
            pixel = samples[row + x * n : row + x * n + 3]
            if all(abs(c - t) <= tolerance for c, t in zip(pixel, colour)):
                points.add((x, y))
    return points


def ink_between(points, clip, x0, x1):
    """The ink points whose page x lies in [x0, x1)."""
    return {p for p in points if x0 <= clip[0] + p[0] / ZOOM < x1}


def one_page_with(draw):
    doc = pymupdf.open()
    page = doc.new_page()
    draw(page)
    return doc.tobytes()


@pytest.mark.parametrize("render", RENDERERS, ids=RENDERER_IDS)
class TestChineseFlag:
    BOX = (500, 100, 560, 115)
    CLIP = (495, 95, 565, 120)

    def test_every_character_carries_ink_of_the_text_colour(self, render, tmp_path):
        pdf = one_page_with(
            lambda page: quorl._add_flag_mark(
                page, self.BOX, {"content": "实施例"}, fcolor=(0.52, 0.64, 1)
            )
        )
        points = ink(render(pdf, 0, self.CLIP, tmp_path), BLACK)
        # Three full-width 10-point characters centred in the 60-point box.
        for k in range(3):
            cell = ink_between(points, self.CLIP, 515 + 10 * k + 1, 515 + 10 * (k + 1) - 1)
            assert len(cell) > 40, f"character {k} has no ink"
        # The ink stays inside the label.
        assert all(500 <= self.CLIP[0] + x / ZOOM <= 560 for x, _ in points)

    def test_the_fill_colour_is_drawn(self, render, tmp_path):
        pdf = one_page_with(
            lambda page: quorl._add_flag_mark(
                page, self.BOX, {"content": "实施例"}, fcolor=(0.52, 0.64, 1)
            )
        )
        fill = ink(render(pdf, 0, self.CLIP, tmp_path), (133, 163, 255), tolerance=8)
        assert len(fill) > 0.5 * (60 * ZOOM) * (15 * ZOOM)


@pytest.mark.parametrize("render", RENDERERS, ids=RENDERER_IDS)
def test_different_characters_render_differently(render, tmp_path):
    """A missing glyph is drawn as nothing or as the same empty box, whatever the character."""
    chars = "实书说权"

    def draw(page):
        for k, ch in enumerate(chars):
            quorl._add_num_mark(
                page, (100 + 50 * k, 100, 130 + 50 * k, 115), {"content": ch},
                tsize=14, tcolor=(0.5, 0, 0.5),
            )

    pdf = one_page_with(draw)
    shapes = []
    for k in range(len(chars)):
        clip = (100 + 50 * k, 98, 130 + 50 * k, 117)
        points = ink(render(pdf, 0, clip, tmp_path), PURPLE)
        assert len(points) > 60, f"{chars[k]} has no ink"
        shapes.append(frozenset(points))
    assert len(set(shapes)) == len(chars)


@pytest.mark.parametrize("render", RENDERERS, ids=RENDERER_IDS)
def test_latin_number_label_is_drawn_in_red(render, tmp_path):
    pdf = one_page_with(
        lambda page: quorl._add_num_mark(page, [193, 392, 207, 400], {"content": "7"})
    )
    clip = (190, 390, 210, 402)
    assert len(ink(render(pdf, 0, clip, tmp_path), RED)) > 10


@pytest.mark.parametrize("render", RENDERERS, ids=RENDERER_IDS)
def test_chinese_content_label_over_a_patent_figure(render, tmp_path):
    patent = patents.generate_patent(3, figures=1, paragraphs=3, claims=2)
    doc = pymupdf.open("pdf", patent.pdf)
    page_number = patent.page_kinds.index("drawings")
    page = doc[page_number]
    figure = page.get_image_bbox(page.get_images(full=True)[0])
    marker = quorl.ImgIGMarker(1, "图示", [(page_number, figure)], "imagenote#500,100,200,300$")
    marker.addmarker(doc)
    (annot,) = list(page.annots())
    label = annot.rect
    assert label.height == pytest.approx(15, abs=1e-3)
    points = ink(render(doc.tobytes(), page_number, tuple(label), tmp_path), PURPLE)
    # Two full-width 14-point characters centred in the label: both are drawn.
    middle = (label.x0 + label.x1) / 2
    assert len(ink_between(points, tuple(label), middle - 14, middle)) > 60
    assert len(ink_between(points, tuple(label), middle, middle + 14)) > 60
