"""Fuzzes PdfDocument and converter construction: the sample patent's bytes damaged, and
small PDFs laid out from fuzzed headers, page-count boxes, drawings and lines."""

import atheris
from common import EXAMPLES, consume_int, consume_text, main, seed_fields, tolerant

import pymupdf
import quorl
from patents import draw_separator, finish, write

SAMPLE_HTML = (EXAMPLES / "sample.html").read_text(encoding="utf-8")
SAMPLE_PDF = (EXAMPLES / "sample.pdf").read_bytes()
WORDS = ["权利要求书", "说明书", "附图", "说明书附图", "序列表", "摘要", "页", "0", "1", "2", "3",
         "12", " ", "\u3000", "\u00a0", "CN", "A"]
HTML = ("<div id='cn-bibliographic-info'>{}</div><div id='claims'><div id='c1'>{}</div></div>"
        "<div id='description'><h2 id='h1'>{}</h2></div><div id='drawings'>{}</div>")

pymupdf.TOOLS.mupdf_display_errors(False)
pymupdf.TOOLS.mupdf_display_warnings(False)


def damaged_sample(fdp):
    data = bytearray(SAMPLE_PDF)
    for _ in range(fdp.ConsumeIntInRange(1, 8)):
        at = fdp.ConsumeIntInRange(0, len(data) - 1)
        what = fdp.ConsumeIntInRange(0, 2)
        if what == 0:
            data[at] = fdp.ConsumeIntInRange(0, 255)
        elif what == 1:
            del data[at:at + fdp.ConsumeIntInRange(1, 64)]
        else:
            data[at:at] = fdp.ConsumeBytes(fdp.ConsumeIntInRange(1, 16))
    return bytes(data)


def words(fdp, n):
    return "".join(fdp.PickValueInList(WORDS) for _ in range(fdp.ConsumeIntInRange(0, n)))


def laid_out(fdp):
    doc = pymupdf.open()
    for number in range(fdp.ConsumeIntInRange(1, 4)):
        page = doc.new_page()
        if number == 0:
            for _ in range(fdp.ConsumeIntInRange(0, 2)):
                draw_separator(page, y=fdp.ConsumeIntInRange(-50, 900))
            write(page, 380, fdp.ConsumeIntInRange(200, 250), words(fdp, 8), 9)
        else:
            write(page, fdp.ConsumeIntInRange(150, 400), fdp.ConsumeIntInRange(20, 60), words(fdp, 4), 12)
        for _ in range(fdp.ConsumeIntInRange(0, 6)):
            size = fdp.PickValueInList([10.5, 10.5, 3, 30, 0.5])
            write(page, fdp.ConsumeIntInRange(-20, 600), fdp.ConsumeIntInRange(-20, 860),
                  consume_text(fdp, 20, "一种装置方法的ab \u00a0"), size)
    return finish(doc)


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    pdf = damaged_sample(fdp) if fdp.ConsumeBool() else tolerant(laid_out, fdp)
    if pdf is None:
        return
    real = seed_fields(data, 4)
    if real:
        html = HTML.format(*real)  # the sections of a real patent, as laid_out draws them
    else:
        html = SAMPLE_HTML if fdp.ConsumeBool() else HTML.format(
            *(consume_text(fdp, 15) for _ in range(4)))
    conv = tolerant(quorl.get_patent_converter, html, pdf)
    if conv is None:
        return
    pdfdoc = conv.pdfdoc
    tolerant(pdfdoc.get_text)
    line = consume_int(fdp)
    tolerant(pdfdoc.getcontentposition, (line, consume_int(fdp)), (line + fdp.ConsumeIntInRange(0, 2), consume_int(fdp)))
    tolerant(pdfdoc.getpageimages, consume_int(fdp))
    start = fdp.ConsumeIntInRange(0, len(conv.htmldoc.text) + 5)
    mark = {"start": start, "end": start + fdp.ConsumeIntInRange(0, 80),
            "type": fdp.PickValueInList(["par", "cth", "imgpar", "imgig", "flag", "equal"]),
            "title": "1", "content": "c"}
    out = tolerant(quorl.pdf_marker, conv, [mark])
    if out is not None:
        pymupdf.open("pdf", out).close()


if __name__ == "__main__":
    main(test_one_input, instrument=False)
