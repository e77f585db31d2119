"""OCR of scanned patents (quorl_mark.ocr): the text layer, the first page's rule, marking a scan
with quorl-mark, and the faults: mixed, blank, turned, tiny and encrypted pages, Tesseract
missing. Tesseract runs for real, on one small scanned patent per test session."""
import json
import os
import sys
import warnings

import pymupdf
import pytest
from hypothesis import given, settings, strategies as st

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "bench"))

import quorl  # noqa: E402
from ocr_measure import mark_ious, model_page_texts, similarity  # noqa: E402
from patent_files import write_patent  # noqa: E402
from patents import generate_patent  # noqa: E402
from quorl_mark import cli, job, ocr_pdf  # noqa: E402
from quorl_mark.errors import JobError  # noqa: E402
from quorl_mark.ocr import OcrWarning, ocr_document  # noqa: E402
from quorl_mark.ocr_lines import text_lines  # noqa: E402
from scans import scan_pdf  # noqa: E402

DPI = 200  # OCR resolution of the tests: a third of the time of 300 dpi, text still exact
KNOBS = dict(pages=3, figures=0, abstract_figure=False)


@pytest.fixture(scope="session")
def patent_files(tmp_path_factory):
    """The text patent's files and its scan beside them (the same HTML and marks)."""
    folder = tmp_path_factory.mktemp("scan")
    html, pdf, marks = write_patent(folder, "text", 3, marks=10, **KNOBS)
    scan = folder / "scan.pdf"
    scan.write_bytes(scan_pdf(pdf.read_bytes(), 150, skew=0.3, seed=3))
    return html, pdf, marks, scan


@pytest.fixture(scope="session")
def recognised(patent_files):
    scan = patent_files[3]
    before = scan.read_bytes()
    result = ocr_document(scan, dpi=DPI, jobs=2)
    assert scan.read_bytes() == before
    return result


class TestTextLayer:
    def test_every_page_reads_like_the_text_pdf(self, patent_files, recognised):
        assert recognised.pages == [0, 1, 2] and not recognised.unreadable
        truth = model_page_texts(quorl.PdfDocument(pymupdf.open(patent_files[1])))
        found = model_page_texts(quorl.PdfDocument(pymupdf.open("pdf", recognised.pdf)))
        assert len(found) == len(truth) == 3
        for page_truth, page_found in zip(truth, found):
            assert similarity(page_truth, page_found) >= 0.95

    def test_the_layer_is_invisible_and_the_image_untouched(self, patent_files, recognised):
        scan = pymupdf.open(patent_files[3])
        found = pymupdf.open("pdf", recognised.pdf)
        for before, after in zip(scan, found):
            assert after.get_pixmap(dpi=30).samples == before.get_pixmap(dpi=30).samples
            xref = before.get_images()[0][0]
            assert found.xref_stream_raw(after.get_images()[0][0]) == scan.xref_stream_raw(xref)
            spans = [s for b in after.get_text("dict")["blocks"] for l in b.get("lines", ())
                     for s in l["spans"]]
            assert spans and all(s["alpha"] == 0 for s in spans)

    def test_no_blanks_between_chinese_characters(self, recognised):
        text = pymupdf.open("pdf", recognised.pdf)[1].get_text()
        pairs = [(text[i - 1], text[i + 1]) for i, c in enumerate(text[1:-1], 1) if c == " "]
        assert pairs and not [(a, b) for a, b in pairs if not a.isascii() and not b.isascii()]
        assert ("N", "1") in pairs  # "CN 105035415 A" keeps its blanks

    def test_one_line_per_printed_line(self, patent_files, recognised):
        truth = quorl.PdfDocument(pymupdf.open(patent_files[1]))
        found = quorl.PdfDocument(pymupdf.open("pdf", recognised.pdf))
        for kind in ("claims", "descriptions"):
            assert len(found.contents[kind]) == len(truth.contents[kind])

    def test_first_page_rule_where_the_separator_is_printed(self, recognised):
        separator = generate_patent(3, **KNOBS).separator
        drawings = pymupdf.open("pdf", recognised.pdf)[0].get_drawings()
        assert len(drawings) == 2
        rule = drawings[1]
        assert rule["stroke_opacity"] == 0
        assert abs(rule["rect"].y1 - separator[1]) < 2
        assert rule["rect"].width > 0.9 * (separator[2] - separator[0])


class TestMarkingAScan:
    def test_marks_land_where_they_do_on_the_text_pdf(self, patent_files, tmp_path, capsys):
        html, pdf, marks, scan = patent_files
        outputs = {}
        for name, source in (("text", pdf), ("scan", scan)):
            out = tmp_path / (name + ".json")
            assert cli.main([str(html), str(source), str(marks), "-o",
                             str(tmp_path / (name + ".pdf")), "--marks-out", str(out)]) == 0
            outputs[name] = json.loads(out.read_text(encoding="utf-8"))
        assert "3 pages without text, reading them with Tesseract" in capsys.readouterr().err
        ious = [min(mark_ious(a["rects"], b["rects"]).values())
                for a, b in zip(outputs["text"], outputs["scan"])]
        assert sum(i >= 0.7 for i in ious) >= 0.9 * len(ious), ious

        # The marked scan keeps its text layer: marking it again reads no page.
        again = tmp_path / "again.pdf"
        assert cli.main([str(html), str(tmp_path / "scan.pdf"), str(marks), "-o", str(again),
                         "--ocr", "never", "--allow-mismatch"]) == 0
        assert "Tesseract" not in capsys.readouterr().err

    def test_never_leaves_a_scan_unreadable(self, patent_files, tmp_path, capsys):
        html, _, marks, scan = patent_files
        assert cli.main([str(html), str(scan), str(marks), "-o", str(tmp_path / "x.pdf"),
                         "--ocr", "never"]) == 1
        assert capsys.readouterr().err.startswith("quorl-mark: error: %s: " % scan)
        assert not (tmp_path / "x.pdf").exists()


def faults_pdf():
    """A text page, a blank scan, a scan turned by 90 degrees and a page image too small to
    read, in one PDF."""
    patent = generate_patent(3, **KNOBS)
    scanned = pymupdf.open("pdf", scan_pdf(patent.pdf, 150, rotate={1: 90}, blank=[2]))
    doc = pymupdf.open()
    doc.insert_pdf(pymupdf.open("pdf", patent.pdf), from_page=1, to_page=1)
    doc.insert_pdf(scanned, from_page=2, to_page=2)
    doc.insert_pdf(scanned, from_page=1, to_page=1)
    tiny = doc.new_page(width=595, height=842)
    tiny.insert_image(tiny.rect, pixmap=scanned[0].get_pixmap(dpi=8))
    return doc.tobytes(), patent


class TestFaults:
    def test_mixed_blank_turned_and_tiny_pages(self):
        data, patent = faults_pdf()
        with pytest.warns(OcrWarning) as caught:
            out = ocr_pdf(data, dpi=DPI, jobs=2)
        messages = sorted(str(w.message) for w in caught)
        assert len(messages) == 2
        assert "page 2 was left without text" in messages[0] and "blank" in messages[0]
        assert "page 4 was left without text" in messages[1] and "too small" in messages[1]
        doc = pymupdf.open("pdf", out)
        text_page = pymupdf.open("pdf", patent.pdf)[1]
        assert doc[0].get_text() == text_page.get_text()  # a text page is left alone
        assert doc[1].get_text() == "" and doc[3].get_text() == ""
        turned = doc[2]
        assert turned.rect.width < turned.rect.height and turned.rotation == 0
        assert similarity(text_page.get_text(), turned.get_text()) >= 0.9

    def test_a_first_page_without_its_rule_gives_the_layout_error(self, patent_files):
        html, pdf, _, _ = patent_files
        doc = pymupdf.open("pdf", scan_pdf(pdf.read_bytes(), 150))
        doc.select([0])
        separator = generate_patent(3, **KNOBS).separator
        page = doc[0]
        page.draw_rect((0, separator[1] - 4, page.rect.width, separator[1] + 4), color=None,
                       fill=(1, 1, 1))
        erased = pymupdf.open()  # scanned again, so that the white-out is pixels too
        erased.new_page(width=page.rect.width, height=page.rect.height).insert_image(
            page.rect, pixmap=page.get_pixmap(dpi=150, colorspace=pymupdf.csGRAY))
        result = ocr_document(erased.tobytes(), dpi=DPI, jobs=1)
        found = pymupdf.open("pdf", result.pdf)[0]
        assert result.rule is None and not found.get_drawings() and found.get_text()
        with pytest.raises(JobError, match="not a patent publication laid out as expected"):
            job.load_converter(html.read_text(encoding="utf-8"), result.pdf)

    def test_encrypted_pdf_is_refused_and_kept(self, tmp_path):
        doc = pymupdf.open("pdf", scan_pdf(generate_patent(3, **KNOBS).pdf, 50))
        path = tmp_path / "locked.pdf"
        doc.save(path, encryption=pymupdf.PDF_ENCRYPT_AES_256, user_pw="u", owner_pw="o")
        before = path.read_bytes()
        with pytest.raises(JobError, match="encrypted"):
            ocr_pdf(path)
        assert path.read_bytes() == before

    @pytest.mark.parametrize("missing", ["tesseract", "chi_sim"])
    def test_missing_tesseract_names_the_packages(self, patent_files, tmp_path, monkeypatch,
                                                  capsys, missing):
        if missing == "tesseract":
            monkeypatch.setattr("shutil.which", lambda name: None)
        else:
            real = os.path.isfile
            monkeypatch.setattr("os.path.isfile",
                                lambda p: False if p.endswith("chi_sim.traineddata") else real(p))
        html, _, marks, scan = patent_files
        assert cli.main([str(html), str(scan), str(marks), "-o", str(tmp_path / "x.pdf")]) == 1
        err = capsys.readouterr().err
        assert "tesseract-ocr and tesseract-ocr-chi-sim" in err and "Traceback" not in err
        assert len(err.strip().splitlines()) == 1  # checked before any page is read

    def test_text_pdfs_are_returned_unchanged(self, patent_files):
        data = patent_files[1].read_bytes()
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            assert ocr_pdf(data) == data


def glyphs(text, x, top, size=10.0, drift=0.0):
    """A piece of Tesseract's result: solid characters, each box a little lower than the last
    by ``drift``."""
    out = []
    for i, ch in enumerate(text):
        y = top + i * drift
        out.append((ch, x, y, x + size * 0.9, y + size * 1.4))
        x += size if not ch.isascii() else size * 0.55
    return out


class TestTextLines:
    def test_blanks_between_chinese_characters_are_dropped(self):
        (line,) = text_lines([glyphs("一 种 检 测 S 1 A1 B2", 70, 100)])
        assert line.text == "一种检测S 1 A1 B2"

    def test_a_skewed_line_in_pieces_is_one_line_on_one_baseline(self):
        pieces = [glyphs("所述通信接口用于", 70, 100, drift=0.15),
                  glyphs("存储第二检测结果", 150, 101.3, drift=0.15)]
        lines = text_lines(pieces + [glyphs("下一行的文字", 70, 122)])
        assert [l.text for l in lines] == ["所述通信接口用于存储第二检测结果", "下一行的文字"]
        assert lines[0].size == pytest.approx(10, rel=0.1)
        xs = [x for _, x in lines[0].chars]
        assert xs == sorted(xs) and xs[0] == 70

    def test_runs_apart_keep_their_places(self):
        (line,) = text_lines([glyphs("CN 1050354 A", 60, 30, 9), glyphs("权利要求书", 282, 30, 14)])
        assert line.text == "CN 1050354 A权利要求书"
        assert next(x for c, x in line.chars if c == "权") == pytest.approx(282)


@pytest.mark.parametrize("args, error", [
    (("x", 1, 1, 1, 1), TypeError),
    ((b"", 1, 1, 1, 1), ValueError),
    ((b"abcd", 2, 2, 1, 1), ValueError),  # stride below width x channels
    ((b"abc", 2, 2, 2, 1), ValueError),  # buffer shorter than its rows
    ((bytearray(4), 2, 2, 2, 5), ValueError),
    ((bytearray(4), -2, 2, 2, 1), ValueError),
    ((bytearray(4), 2, 2, 2, 1, 300), ValueError),  # dark beyond a byte
    ((bytearray(4), 2.5, 2, 2, 1), TypeError),
])
def test_find_rules_checks_its_arguments(args, error):
    with pytest.raises(error):
        quorl._find_rules(*args)


def test_find_rules_reads_a_rendered_rule():
    doc = pymupdf.open()
    page = doc.new_page(width=300, height=200)
    page.draw_line((30, 80), (270, 80), width=1)
    pix = page.get_pixmap(dpi=144, colorspace=pymupdf.csGRAY)
    (rule,) = quorl._find_rules(pix.samples_mv, pix.width, pix.height, pix.stride, pix.n)
    assert rule[0] == pytest.approx(60, abs=2) and rule[2] == pytest.approx(540, abs=2)
    assert rule[4] == pytest.approx(160, abs=1)


def test_batch_passes_ocr_to_each_patent(patent_files, tmp_path):
    from quorl_mark.batch import mark_batch

    html, _, marks, scan = patent_files
    folder = tmp_path / "in"
    folder.mkdir()
    for source, name in ((html, "p.html"), (scan, "p.pdf"), (marks, "p.marks.json")):
        (folder / name).write_bytes(source.read_bytes())
    (line,) = mark_batch(folder, tmp_path / "out", jobs=1, ocr="never")
    assert line["status"] == "failed" and "p.pdf" in line["error"]


@settings(max_examples=60, deadline=None)
@given(st.integers(1, 40), st.integers(1, 30), st.integers(1, 4), st.integers(0, 3),
       st.integers(1, 20), st.randoms(use_true_random=False))
def test_find_rules_on_any_raster_stays_inside_it(width, height, channels, pad, min_length,
                                                  rng):
    stride = width * channels + pad
    samples = bytes(rng.choice((0, 0, 255)) for _ in range(stride * height))
    for x0, top, x1, bottom, center in quorl._find_rules(samples, width, height, stride,
                                                          channels, min_length=min_length):
        assert 0 <= x0 < x1 <= width and x1 - x0 >= min_length
        assert 0 <= top < bottom <= height and top <= center <= bottom
