"""Pages the OCR layer must not stumble on: blank pages, known blank from their image and never
read, said in one line of ranges; characters no font of the text layer encodes, left out and
named, never blamed on the input as damage."""
import json
import pymupdf
import pytest

from patents import generate_patent
from quorl_mark.commands import mark as cli
from quorl_mark.diagnostics import module_diagnostics
from quorl_mark.ocr import blank as ocr_blank
from quorl_mark.ocr.document import BLANK, OcrResult, write_text
from quorl_mark.ocr.lines import TextLine
from scans import office_scan, scan_image, jpeg


def _page_with(draw):
    doc = pymupdf.open()
    page = doc.new_page()
    draw(page)
    return pymupdf.open("pdf", doc.tobytes())[0]


def _scanned(text=None, **defects):
    def draw(page):
        if text:
            page.insert_text((100, 100), text, fontname="china-s", fontsize=10.5)
    source = _page_with(draw)
    image = jpeg(scan_image(source, 300, **defects), 70)
    return _page_with(lambda page: page.insert_image(page.rect, stream=image))


SPECKLED = dict(noise=4.0, paper=232, shade=28, speckle=3.0)


class TestBlankPages:
    @pytest.mark.parametrize("page, blank", [
        (lambda: _page_with(lambda page: None), True),
        (lambda: _page_with(lambda page: page.draw_rect((10, 10, 500, 700), color=None,
                                                          fill=(1, 1, 1))), True),
        (lambda: _scanned(), True),
        (lambda: _scanned(**SPECKLED), True),
        (lambda: _scanned("图1", **SPECKLED), False),
        (lambda: _page_with(lambda page: page.draw_line((50, 400), (545, 400))), False),
    ], ids=["empty", "white-fill", "white-scan", "speckled-scan", "caption",
            "a-rule"])
    def test_blank_is_known_from_the_page(self, page, blank):
        assert ocr_blank.is_blank(page()) is blank

    @pytest.mark.parametrize("numbers, said", [
        ([0], "1"), ([5, 6, 7], "6-8"), ([2, 0, 9, 3], "1, 3-4, 10")])
    def test_ranges_as_a_reader_says_them(self, numbers, said):
        assert ocr_blank.ranges(numbers) == said

    def test_blank_pages_are_one_warning_line(self):
        result = OcrResult(b"", [0], {n: BLANK for n in range(5, 5005)}, None, 0.0)
        result.unreadable[2] = "it timed out"
        assert result.warnings("scan.pdf") == [
            "scan.pdf: pages 6-5005 are blank: left without text",
            "scan.pdf: page 3 was left without text: it timed out"]

    def test_blank_pages_are_not_read_through_the_command(self, tmp_path, capsys, monkeypatch):
        from quorl_mark.ocr import document

        read = []

        def recognise(doc, numbers, *args, **kwargs):
            read.extend(numbers)
            return recognise_pages(doc, numbers, *args, **kwargs)
        recognise_pages = document._recognise
        monkeypatch.setattr(document, "_recognise", recognise)
        patent = generate_patent(3, pages=2, figures=0, abstract_figure=False)
        scan = pymupdf.open("pdf", office_scan(patent.pdf))
        pages = scan.page_count
        for _ in range(3):
            scan.new_page(width=595, height=842)
        sheet = scan.new_page(width=595, height=842)  # a sheet scanned blank, speckled
        sheet.insert_image(sheet.rect, stream=jpeg(scan_image(sheet, 300, **SPECKLED), 70))
        paths = [tmp_path / name for name in ("p.html", "p.pdf", "m.json", "o.pdf")]
        paths[0].write_text(patent.html, encoding="utf-8")
        paths[1].write_bytes(scan.tobytes())
        paths[2].write_text(json.dumps([]))
        assert cli.main([str(paths[0]), str(paths[1]), str(paths[2]), "-o", str(paths[3])]) == 0
        err = capsys.readouterr().err
        assert sorted(set(read)) == list(range(pages))
        # The progress counts the pages Tesseract reads, the blank ones left out.
        assert "%d pages without text, reading them" % pages in err, err
        said = [line for line in err.splitlines() if "are blank" in line]
        assert said == ["quorl-mark: warning: %s: pages %d-%d are blank: left without text"
                        % (paths[1], pages + 1, pages + 4)], err


class TestCharactersTheLayerLacks:
    # Outside the CJK font's GBK character set: a non-breaking hyphen, a character of CJK
    # extension B, a Latin letter with its accent apart, a private-use one.
    @pytest.mark.parametrize("missing", ["\u2011", "\U00020000", "\u01d5", "\ue000"])
    def test_left_out_named_and_never_reported_by_the_pdf_library(self, missing):
        doc = pymupdf.open()
        page = doc.new_page()
        chars = [(c, 100 + 12 * i) for i, c in enumerate("温度" + missing + "参数")]
        with module_diagnostics() as reports:
            assert write_text(page, [TextLine(200.0, 12.0, chars)]) == [missing]
            # a later rewrite of the page (a redaction) re-encodes every character it shows
            page.add_redact_annot(pymupdf.Rect(0, 0, 1, 1))
            page.apply_redactions()
            assert reports.collect() == []
        shown = sorted((round(c["origin"][0]), c["c"]) for block in page.get_text("rawdict")[
            "blocks"] for line in block["lines"] for span in line["spans"] for c in span["chars"])
        assert shown == [(x, c) for c, x in chars if c != missing]
        result = OcrResult(b"", [0], {}, None, 0.0, {0: missing})
        assert result.warnings("scan.pdf") == [
            "scan.pdf: page 1: %r read and left out of the text layer, which has no font for it"
            % missing]
