"""Tesseract read through its library, in the page's process, and through its command: the same
hOCR for the same images, and the same faults reported as the page's reason."""
import re

import pytest

from quorl_mark.errors import JobError
from quorl_mark.ocr import clean, tesseract
from quorl_mark.ocr.document import tessdata_for
from quorl_mark.ocr.hocr import parse_pages, text_of
from scans import printed_line

LINES = ("权利要求书", "说明书附图", "")


def image_of(text):
    return clean.encoded(printed_line(text))


@pytest.fixture(params=["library", "command"])
def engine(request, monkeypatch):
    if request.param == "command":
        monkeypatch.setattr(tesseract, "_engine", lambda tessdata, language: None)
    return request.param


def page_divs(document):
    """The hOCR's pages, the image's name (stdin or unknown) left out."""
    return re.sub(rb'image "[^"]*"; ', b"", document[document.index(b"<div"):document.rindex(
        b"</div>") + 6])


def test_the_library_reads_as_the_command_does(monkeypatch):
    assert tesseract._library() is not None  # the fast path is what runs here
    images = [image_of(text) for text in LINES]
    args = (300, "chi_sim", tessdata_for("chi_sim"), 7)
    # Twice through one loaded model: what one image leaves behind never changes the next.
    by_library = [tesseract.hocr(images, *args) for _ in range(2)]
    monkeypatch.setattr(tesseract, "_engine", lambda tessdata, language: None)
    by_command = tesseract.hocr(images, *args)
    assert page_divs(by_library[0]) == page_divs(by_library[1]) == page_divs(by_command)
    pages = parse_pages(by_library[0], 72 / 300, [(0, 0)] * len(images))
    assert [[text_of(line) for line in lines] for lines in pages] == [["权利要求书"], ["说明书附图"], []]
    # Each character's box, where it starts, left to right inside its word's box.
    for word in (word for lines in pages for line in lines for word in line.words):
        assert len(word.starts) == len(word.text)
        assert word.box[0] - 0.5 <= word.starts[0] and list(word.starts) == sorted(word.starts)
        assert word.starts[-1] < word.box[2]


@pytest.mark.parametrize("fault, reason", [
    ("undecodable", "Tesseract failed on it"),
    ("no language data", "Tesseract failed on it"),
    ("out of time", "Tesseract"),
])
def test_a_fault_is_the_pages_reason(engine, fault, reason, monkeypatch, tmp_path):
    image, tessdata = image_of(LINES[0]), tessdata_for("chi_sim")
    if fault == "undecodable":
        image = b"P5\n2 2\n255\n"  # a header without its pixels
    elif fault == "no language data":
        tessdata = str(tmp_path)
    elif engine == "library":
        monkeypatch.setattr(tesseract, "TIMEOUT", 0.001)
    else:
        monkeypatch.setattr(tesseract.subprocess, "run", _times_out)
    with pytest.raises(JobError, match=reason):
        tesseract.hocr([image], 300, "chi_sim", tessdata, 6)


def _times_out(command, **kwargs):
    raise tesseract.subprocess.TimeoutExpired(command, kwargs["timeout"])
