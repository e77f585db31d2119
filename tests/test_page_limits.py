"""Pages far larger than a publication's: their page images drawn within the pixel limit with a
warning naming the page and the option, and a PDF whose text lies outside the text regions
refused in words that say what it holds and where the regions were looked for."""
import json
import re

import pymupdf
import pytest

from careless_use import command, patent_folder, refused
from quorl_mark.review.page import MAX_PAGE_IMAGE_PIXELS


@pytest.fixture(scope="module")
def patent(tmp_path_factory):
    folder = tmp_path_factory.mktemp("limits")
    patent, _ = patent_folder(folder)
    return folder, patent


def with_one_huge_page(pdf, number):
    """The PDF with page ``number`` reaching 20,000 pt right and down, its text where it was."""
    doc = pymupdf.open("pdf", pdf)
    height = doc[number].mediabox.y1
    doc[number].set_mediabox(pymupdf.Rect(0, height - 20000, 20000, height))
    return doc.tobytes()


def every_page_scaled(pdf, width):
    source = pymupdf.open("pdf", pdf)
    doc = pymupdf.open()
    for page in source:
        scale = width / page.rect.width
        doc.new_page(width=width, height=page.rect.height * scale).show_pdf_page(
            pymupdf.Rect(0, 0, width, page.rect.height * scale), source, page.number)
    return doc.tobytes()


@pytest.mark.parametrize("option", ["--preview", "--review"])
def test_a_page_too_large_for_its_image_is_drawn_smaller_with_a_warning(patent, tmp_path, option):
    folder, source = patent
    marked = json.loads(command("quorl-mark", folder / "p.html", folder / "p.pdf",
                                folder / "m.json", "-o", tmp_path / "plain.pdf", "--marks-out",
                                "-").stdout)
    number = marked[0]["rects"][0][0]
    (tmp_path / "big.pdf").write_bytes(with_one_huge_page(source.pdf, number))
    proc = command("quorl-mark", folder / "p.html", tmp_path / "big.pdf", folder / "m.json",
                   "-o", tmp_path / "o.pdf", option, tmp_path / "images", "--dpi", "100")
    err = proc.stderr.decode()
    assert proc.returncode == 0, err
    warning = re.search(r"%s: page %d \(20000 x 20000 pt\) is too large for an image at 100 "
                        r"dpi: it would be 27778 x 27778 pixels, more than the 150 million a page "
                        r"image may have; it is drawn at (\d+) dpi instead; --dpi \1 or lower "
                        r"draws every page at one resolution" % (option, number + 1), err)
    assert warning and "unexpected" not in err, err
    images = tmp_path / "images" / ("pages" if option == "--review" else "")
    image = pymupdf.Pixmap(str(images / image_name(number)))
    assert image.width * image.height <= MAX_PAGE_IMAGE_PIXELS
    drawn_at = int(warning.group(1))
    assert abs(image.width - 20000 * drawn_at / 72) < 1
    # The pages of ordinary size keep the resolution asked for.
    other = sorted(p for p in images.glob("page-*.png") if p.name != image_name(number))[0]
    size = pymupdf.open(tmp_path / "big.pdf")[int(other.stem[5:]) - 1].rect
    assert abs(pymupdf.Pixmap(str(other)).width - size.width * 100 / 72) < 1
    if option == "--review":
        side = round(20000 * drawn_at / 72)
        assert 'width="%d" height="%d" alt="page %d"' % (side, side, number + 1) \
            in (tmp_path / "images" / "index.html").read_text()


def image_name(number):
    return "page-%03d.png" % (number + 1)


@pytest.mark.parametrize("width", [20000, 3000])
def test_text_outside_the_regions_is_said_with_where_they_are(patent, tmp_path, width):
    folder, source = patent
    (tmp_path / "wide.pdf").write_bytes(every_page_scaled(source.pdf, width))
    err = refused(tmp_path, "quorl-mark", folder / "p.html", tmp_path / "wide.pdf",
                  folder / "m.json", "-o", tmp_path / "o.pdf")
    pages = pymupdf.open(tmp_path / "wide.pdf")
    characters = sum(len("".join(page.get_text().split())) for page in pages)
    assert ("wide.pdf: no text found in the patent's text regions: the PDF holds %d characters "
            "of text, none of them where a publication prints its text" % characters) in err
    assert "the sections within x 50-555, y 55-770 pt of the pages whose header" in err
    assert "found on none of its %d pages" % pages.page_count in err
    assert "page 1 is %d x %.0f pt" % (width, pages[0].rect.height) in err
