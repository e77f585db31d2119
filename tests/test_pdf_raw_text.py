"""The raw-dict extraction the document is built from: PyMuPDF's own text blocks, and image blocks
reduced to their boxes without their images being encoded."""
import pymupdf
import pytest

import quorl
import real_patents
from patents import generate_patent


def split_blocks(contentdict):
    """(text blocks without their numbers, image boxes), in order."""
    text, images = [], []
    for block in contentdict["blocks"]:
        if block["type"] == 1:
            images.append(block["bbox"])
        else:
            text.append({k: v for k, v in block.items() if k != "number"})
    return text, images


def documents():
    yield "generated", pymupdf.open("pdf", generate_patent(3, figures=3).pdf)
    for name in real_patents.NAMES:
        yield name, pymupdf.open(real_patents.pdf_path(name))


@pytest.mark.parametrize("name,doc", list(documents()), ids=lambda v: v if isinstance(v, str) else "")
def test_every_page_matches_pymupdf(name, doc, monkeypatch):
    textpages = []
    original = pymupdf.Page.get_textpage

    def keeping(page, *args, **kwargs):
        textpages.append(original(page, *args, **kwargs))
        return textpages[-1]

    monkeypatch.setattr(pymupdf.Page, "get_textpage", keeping)
    images_seen = 0
    for page in doc:
        expected = page.get_text("rawdict")
        got = quorl._raw_text_of_page(page)
        assert split_blocks(got) == split_blocks(expected), (name, page.number)
        assert (got["width"], got["height"]) == (expected["width"], expected["height"])
        images_seen += len(split_blocks(got)[1])
        # The image blocks are linked back into the text page, which frees their images with it.
        relinked = textpages[-1].extractRAWDICT(cb=page.cropbox)
        assert split_blocks(relinked)[1] == split_blocks(expected)[1]
        assert [b["image"] for b in relinked["blocks"] if b["type"] == 1] == \
            [b["image"] for b in expected["blocks"] if b["type"] == 1]
    assert images_seen > 0, "a document without images tests nothing here"


def test_images_across_and_beyond_the_page_edge_as_pymupdf_gives_them():
    doc = pymupdf.open()
    page = doc.new_page(width=200, height=200)
    pix = pymupdf.Pixmap(pymupdf.csRGB, pymupdf.IRect(0, 0, 4, 4), False)
    pix.clear_with(128)
    page.insert_image(pymupdf.Rect(20, 20, 60, 60), pixmap=pix)
    page.insert_image(pymupdf.Rect(180, 180, 260, 260), pixmap=pix)  # across the edge
    page.insert_image(pymupdf.Rect(300, 300, 340, 340), pixmap=pix)  # beyond it
    page.insert_text((20, 100), "text between", fontsize=11)
    page.insert_image(pymupdf.Rect(20, 120, 60, 160), pixmap=pix)
    page = doc.reload_page(page)
    expected = page.get_text("rawdict")
    assert split_blocks(quorl._raw_text_of_page(page)) == split_blocks(expected)
    # Clipped to the page, and clipped away to an empty box, which PyMuPDF still lists.
    assert split_blocks(expected)[1] == [(20, 20, 60, 60), (180, 180, 200, 200),
                                         (300, 300, 200, 200), (20, 120, 60, 160)]


def test_an_object_that_is_not_a_pymupdf_page_is_asked_for_its_own_raw_dict():
    class Page:
        def get_text(self, option):
            return {"asked": option}

    assert quorl._raw_text_of_page(Page()) == {"asked": "rawdict"}
    with pytest.raises(AttributeError):
        quorl._raw_text_of_page(object())
