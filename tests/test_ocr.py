"""OCR of scanned patents (quorl_mark.ocr): the text layer, the first page's rule, marking a scan
with quorl-mark, and the faults: mixed, blank, turned, tiny and encrypted pages, Tesseract
missing. Tesseract runs for real, on one small scanned patent per test session."""
import json
import os
import sys
import warnings

import numpy
import pymupdf
import pytest
from hypothesis import given, settings, strategies as st

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "bench"))

import quorl  # noqa: E402
from ocr_measure import mark_ious, model_page_texts, similarity  # noqa: E402
from patent_files import write_patent  # noqa: E402
from patents import generate_patent  # noqa: E402
from quorl_mark import job, ocr_pdf  # noqa: E402
from quorl_mark.commands import mark as cli  # noqa: E402
from quorl_mark.errors import JobError  # noqa: E402
from quorl_mark.ocr.document import OcrWarning, ocr_document  # noqa: E402
from quorl_mark.ocr.hocr import OcrLine, Word, parse  # noqa: E402
from quorl_mark.ocr.lines import CJK_BASELINE_RISE, CJK_BEARING, text_lines, width_of  # noqa: E402
from scans import scan_pdf  # noqa: E402

DPI = 200  # OCR resolution of the tests: a third of the time of 300 dpi, text still exact
KNOBS = dict(pages=3, figures=0, abstract_figure=False)


@pytest.fixture(scope="session")
def patent_files(tmp_path_factory):
    """The text patent's files and its scan beside them (the same HTML and marks)."""
    folder = tmp_path_factory.mktemp("scan")
    html, pdf, marks = write_patent(folder, "text", 3, marks=10, **KNOBS)
    scan = folder / "scan.pdf"
    scan.write_bytes(scan_pdf(pdf.read_bytes(), 150, skew=1.0, seed=3))  # a degree off level
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

    def test_the_layer_is_invisible_and_the_image_kept_but_shown_level(self, patent_files,
                                                                        recognised):
        from quorl_mark.ocr.clean import skew_angle

        def tilt(page):
            pix = page.get_pixmap(dpi=100, colorspace=pymupdf.csGRAY)
            return skew_angle(numpy.frombuffer(pix.samples, numpy.uint8).reshape(pix.height,
                                                                                 pix.width))

        scan = pymupdf.open(patent_files[3])
        found = pymupdf.open("pdf", recognised.pdf)
        for before, after in zip(scan, found):
            assert abs(tilt(before) - 1.0) <= 0.15 and abs(tilt(after)) <= 0.15
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
        assert sum(i >= 0.7 for i in ious) >= 0.95 * len(ious), ious

        # The marked scan keeps its text layer: marking it again reads no page.
        again = tmp_path / "again.pdf"
        assert cli.main([str(html), str(tmp_path / "scan.pdf"), str(marks), "-o", str(again),
                         "--ocr", "never", "--allow-mismatch"]) == 0
        assert "Tesseract" not in capsys.readouterr().err

    def test_a_text_pdf_with_a_scanned_page_gets_that_page_read(self, patent_files, tmp_path,
                                                               capsys):
        html, pdf, marks, scan = patent_files
        mixed = pymupdf.open(pdf)
        mixed.delete_page(2)
        mixed.insert_pdf(pymupdf.open(scan), from_page=2, to_page=2)
        mixed.save(tmp_path / "mixed.pdf")
        assert cli.main([str(html), str(tmp_path / "mixed.pdf"), str(marks), "-o",
                         str(tmp_path / "out.pdf")]) == 0
        assert "1 page without text, reading it with Tesseract" in capsys.readouterr().err
        out = pymupdf.open(tmp_path / "out.pdf")
        page = out[1]
        for annot in list(page.annots()):
            page.delete_annot(annot)
        assert page.get_text() == pymupdf.open(pdf)[1].get_text()  # the text page as it was
        assert similarity(pymupdf.open(pdf)[2].get_text(), out[2].get_text()) >= 0.95

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


def ocr_line(*words, x=70.0, size=10.0, top=100.0):
    """A line as Tesseract reports it: ``words`` set solid from ``x`` (a float among them
    skips that many em), the line's box on their ink, its baseline under it."""
    found, left = [], x
    for word in words:
        if isinstance(word, float):
            left += word * size
            continue
        width = sum(width_of(c) for c in word) * size
        found.append(Word(word, (left, top, left + width, top + 0.9 * size)))
        left += width
    box = (found[0].box[0] + CJK_BEARING * size, top, found[-1].box[2] - CJK_BEARING * size,
           top + 0.9 * size)
    return OcrLine(box, top + 0.9 * size, found)


class TestTextLines:
    @pytest.mark.parametrize("words, text", [
        (("一", "种", "检测", "S", "1", "A1", "B2"), "一种检测S 1 A1 B2"),
        (("存储特征向量", "(例如S120)", ";", "所述"), "存储特征向量（例如S120）；所述"),
        (("(21)申请号", "2019", ":"), "(21)申请号2019:"),
        (("信号", "(",), "信号（"),
        # A paragraph number's blank read as a quotation mark; a quotation inside a line stays.
        (("[0001]", 1.0, "“本", "发明"), "[0001]本发明"),
        (("[0012]", "”", "称为", "“", "码", "”"), "[0012]称为“码”"),
        (("[ooo7]", "”图", "1"), "[0007]图1"), (("[oolt]", "图5"), "[0011]图5"),
        (("[Model]", "A"), "[Model]A"),
    ])
    def test_text_as_chinese_patents_print_it(self, words, text):
        (line,) = text_lines([ocr_line(*words)])
        assert line.text == text

    def test_a_line_is_set_solid_between_its_inked_ends(self):
        (line,) = text_lines([ocr_line("所述通信接口用于存储第二检测结果", x=70, size=10.5)])
        assert line.size == pytest.approx(10.5)
        assert [x for _, x in line.chars] == pytest.approx([70 + 10.5 * i for i in range(16)])
        assert line.baseline == pytest.approx(100 + 0.9 * 10.5 - CJK_BASELINE_RISE * 10.5)

    def test_runs_apart_keep_their_places(self):
        line = ocr_line("CN", "1050354", "A", 12.0, "权利要求书", x=60)
        found = text_lines([line])
        assert [l.text for l in found] == ["CN 1050354 A", "权利要求书"]
        assert found[0].chars[0][1] == pytest.approx(60, abs=0.5)
        assert found[1].chars[0][1] == pytest.approx(line.words[3].box[0], abs=1)

    def test_a_flat_character_after_a_gap_starts_its_run(self):
        line = ocr_line("申请日", "2020", 12.0, "一", "种检测设备", size=10.5)
        flat = line.words[2]._replace(box=line.words[2].box[:1] + (104.0,) +
                                      line.words[2].box[2:3] + (105.0,))
        left, right = text_lines([line._replace(words=line.words[:2] + [flat] + line.words[3:])])
        assert (left.text, right.text) == ("申请日2020", "一种检测设备")
        assert right.chars[0][1] == pytest.approx(flat.box[0], abs=1)
        assert [left.size, right.size] == pytest.approx([10.5, 10.5], rel=0.02)
        assert left.baseline == pytest.approx(right.baseline, abs=0.05)

    def test_a_sliver_of_a_word_box_does_not_split_a_line(self):
        line = ocr_line("输出压力", "数值", "误差小于", x=70)
        sliver = line.words[1]._replace(box=(200.0, 105.0, 201.0, 107.0))
        (found,) = text_lines([line._replace(words=[line.words[0], sliver, line.words[2]])])
        assert found.text == "输出压力数值误差小于" and found.size == pytest.approx(10)

    def test_a_short_line_takes_the_size_of_the_page(self):
        body = ocr_line("所述通信接口用于存储第二检测结果", size=10.5)
        short = ocr_line("图1", size=10.5, top=200)
        short = short._replace(box=(short.box[0] + 1, short.box[1], short.box[2] - 2,
                                    short.box[3]))  # a box a little off
        assert [l.size for l in text_lines([body, short])] == pytest.approx([10.5, 10.5])


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
@pytest.mark.parametrize("read", [
    quorl._find_rules,
    lambda *raster: quorl._ink_boxes(*raster[:5], [(0, 0, 2, 2)], *raster[5:]),
], ids=["find_rules", "ink_boxes"])
def test_page_image_readers_check_the_raster(read, args, error):
    with pytest.raises(error):
        read(*args)


@pytest.mark.parametrize("boxes, error", [
    (None, TypeError), ([(0, 0, 1)], TypeError), ([(0, 0, 1, "a")], TypeError),
    ([(0, 0, 1, 2 ** 40)], ValueError), ([(0, 0, 1, 2 ** 70)], OverflowError), ([5], TypeError),
])
def test_ink_boxes_checks_its_boxes(boxes, error):
    with pytest.raises(error):
        quorl._ink_boxes(bytearray(4), 2, 2, 2, 1, boxes)


def test_ink_boxes_reads_a_rendered_line():
    doc = pymupdf.open()
    page = doc.new_page(width=200, height=60)
    page.insert_text((20, 40), "本发明", fontname="china-s", fontsize=20)
    page.draw_line((0, 55), (200, 55), width=2)  # a rule under it, kept out of the search
    pix = page.get_pixmap(dpi=72, colorspace=pymupdf.csRGB)
    image = (pix.samples_mv, pix.width, pix.height, pix.stride, pix.n)
    (box, outside, none) = quorl._ink_boxes(*image, [(0, 0, 200, 50), (-50, -50, 500, 500),
                                                   (150, 0, 200, 50)])
    assert box[0] == pytest.approx(21, abs=1) and box[2] == pytest.approx(79, abs=1)
    assert box[1] == pytest.approx(24, abs=1) and box[3] == pytest.approx(42, abs=1)
    assert outside[2] == 200 and none is None


HOCR = """<html xmlns="http://www.w3.org/1999/xhtml"><body>
<div class='ocr_page' title='bbox 0 0 800 600'>
 <span class='ocr_line' id='line_1_1' title="bbox 100 200 500 240; baseline 0.01 -10">
  <span class='ocrx_word' title='bbox 100 200 180 240; x_wconf 91'>本 发</span>
  <span class='ocrx_word' title='bbox 190 200 260 240; x_wconf 7'>S1</span>
  <span class='ocrx_word' title='x_wconf 90'>lost</span>
 </span>
 <span class='ocr_line' id='line_1_2' title="bbox 100 300 500 340"> </span>
</div></body></html>""".encode("utf-8")


def test_hocr_lines_in_page_points():
    (line,) = parse(HOCR, 0.5, shift=(20, 0))
    assert line.box == (60, 100, 260, 120)
    assert line.baseline == pytest.approx(120 - 5 + 0.01 * 200 / 2)
    assert [(w.text, w.box, w.confidence) for w in line.words] == [
        ("本发", (60, 100, 100, 120), 91), ("S1", (105, 100, 140, 120), 7)]
    assert parse(b"  ", 1.0) == []


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
