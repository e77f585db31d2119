"""Lines running past the edge of their column or text area are read by the region holding most
of them; running headers, footers and page numbers stay out. Checked on hand-made pages, on the
sample patent, and as "no dropped line" on real publications and generated patents against
PyMuPDF's own lines and poppler's pdftotext."""
import contextlib
import html as htmlmod
import io
import pathlib
import re
import subprocess

import pymupdf
import pytest

import quorl
import real_patents
from patents import draw_separator, finish, generate_patent, write

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
SAMPLE_LINES = ["所述检测电路配置为接收校准系数（例如S102）。", "所述调节阀配置为接收图像帧序列（例如S220），"]


def raw_lines(page):
    return [(pymupdf.Rect(l["bbox"]), "".join(c["c"] for s in l["spans"] for c in s["chars"]))
            for b in page.get_text("rawdict")["blocks"] if b["type"] == 0 for l in b["lines"]]


@pytest.fixture(scope="module")
def document():
    doc = pymupdf.open()
    first = doc.new_page(width=595, height=842)
    draw_separator(first)  # columns [48, 298.5] and [295.5, 547] below y 240
    write(first, 60, 300, "左栏一行")
    write(first, 200, 330, "跨过中线大半在左栏的一行字")  # x 200 to 336.5
    write(first, 420, 300, "右栏一行越过右边很多的文字")  # x 420 to 556.5
    write(first, 430, 360, "右栏越过右边的一行字文字字")  # x 430 to 566.5
    write(first, 330, 243, "分隔线之上的一行")  # mostly above the separator
    page = doc.new_page(width=595, height=842)
    write(page, 280, 45, "权利要求书")
    write(page, 400, 58, "页眉下沿一行")  # mostly in the header band, dips into the body
    write(page, 70, 100, "1.一种装置。")
    write(page, 420, 130, "越过正文右边界的一行文字很长")  # x 420 to 567
    write(page, 540, 160, "大半在外面的")  # x 540 to 603: mostly outside
    write(page, 70, 772, "越过正文下边界的一行")  # its bottom below 770
    write(page, 295, 800, "2")
    return quorl.PdfDocument(pymupdf.open("pdf", finish(doc)))


@pytest.fixture(scope="module")
def converter():
    html = (EXAMPLES / "sample.html").read_text(encoding="utf-8")
    with contextlib.redirect_stdout(io.StringIO()):
        return quorl.get_patent_converter(html, (EXAMPLES / "sample.pdf").read_bytes())


class TestHandMadePages:
    def test_columns_read_the_lines_they_hold_most_of(self, document):
        # The line across the middle is read once, by the left column; left column first.
        assert document.contents["abstract"] == [
            "左栏一行", "跨过中线大半在左栏的一行字", "右栏一行越过右边很多的文字",
            "右栏越过右边的一行字文字字"]

    def test_text_area_reads_lines_past_its_edges_but_not_the_header_or_page_number(
            self, document):
        page = document.doc[1]
        expected = ["1.一种装置。", "越过正文右边界的一行文字很长", "越过正文下边界的一行"]
        assert document.contents["claims"] == expected
        assert [r["text"] for r in document.parse_lines(page, pymupdf.Rect(
            document.docmargin))] == expected
        assert ["".join(s["text"] for s in l["spans"])
                for l in document.get_content_by_margin(page, document.docmargin)] == expected
        # Any other region reads only what lies in it, as the header band does.
        assert [r["text"] for r in document.parse_lines(
            page, pymupdf.Rect(50, 55, 555, 771))] == ["1.一种装置。"]
        assert [r["text"] for r in document.parse_lines(
            page, document.pagetypemargin)] == ["权利要求书"]


class TestSample:
    def test_abstract_lines_past_the_column_are_read_once_in_reading_order(self, converter):
        pdfdoc = converter.pdfdoc
        texts = [l["text"] for l in pdfdoc.lines]
        assert [texts.count(t) for t in SAMPLE_LINES] == [1, 1]
        # The right column is every line PyMuPDF reads right of the middle below the separator,
        # top to bottom.
        separator = pdfdoc.separatemargin
        middle = (separator.x0 + separator.x1) / 2
        right = [(r.y0, t) for r, t in raw_lines(pdfdoc.doc[0])
                 if r.x0 > middle and r.y0 > separator.y1]
        assert [l["text"] for l in pdfdoc.parsedict["abstract"]["lines"]
                if l["bbox"][0] > middle and l["text"] != "#imagefile#"] == [
            t for _, t in sorted(right)]

    def test_a_mark_on_them_converts_aligns_and_draws(self, converter, capsys):
        text = converter.htmldoc.text
        start = text.index(SAMPLE_LINES[0])
        end = text.index(SAMPLE_LINES[1]) + len(SAMPLE_LINES[1])
        mark = {"start": start, "end": end, "type": "par", "title": "1", "content": "abstract"}
        record = converter.convert_mark_html2pdf(dict(mark))
        lines = converter.pdfdoc.get_text().split("\n")
        assert [lines[n][a:b] for n, (a, b) in record["pdflines"]] == SAMPLE_LINES
        # Aligned, not HTML-only.
        covered = sum(min(a2, end) - max(a1, start)
                      for (a1, a2), _ in converter.difflist if a1 < end and a2 > start)
        assert covered == end - start
        marked = pymupdf.open("pdf", quorl.pdf_marker(converter, [mark]))
        highlights = [a.rect for a in marked[0].annots() if a.type[1] == "Highlight"]
        assert len(highlights) == 2 and all(r.x1 > 546 for r in highlights)
        bare = pymupdf.open(EXAMPLES / "sample.pdf")[0]
        assert [bare.get_textbox(r + (1, 1, -1, -1)) for r in highlights] == SAMPLE_LINES


# "No dropped line": every line of a page's body is in the document's lines. The body is what lies
# below the page's rule (the first page's separator; on later pages a full-width rule under the
# running header, or the header band where a page draws none), across the rule's width, less the
# page number at the foot of the page.

WORD = re.compile(r'<word xMin="([-\d.]+)" yMin="([-\d.]+)" xMax="([-\d.]+)" yMax="([-\d.]+)">'
                  r'([^<]*)</word>')


def body_of(document, page):
    if page.number == 0:
        rule = document.separatemargin
    else:
        rule = next((d["rect"] for d in page.get_drawings()
                     if d["rect"].height < 1 and d["rect"].width > page.rect.width / 2), None)
    if rule is None:
        return pymupdf.Rect(0, document.pagetypemargin.y1, page.rect.width, page.rect.height)
    return pymupdf.Rect(rule.x0, rule.y1, rule.x1, page.rect.height)


def in_body(rect, text, body, page):
    centre = (rect.tl + rect.br) / 2
    page_number = text.strip().isdigit() and rect.y0 > page.rect.height * 0.9
    return bool(text.strip()) and centre in body and not page_number


def pdftotext_words(data):
    """Per page, the words poppler reads, with their boxes."""
    xhtml = subprocess.run(["pdftotext", "-bbox-layout", "-", "-"], input=data,
                           capture_output=True, check=True).stdout.decode()
    return [[(pymupdf.Rect(*map(float, m.groups()[:4])), htmlmod.unescape(m.group(5)))
             for m in WORD.finditer(page)] for page in xhtml.split("<page ")[1:]]


def is_read(char, read):
    """Whether the document's lines hold this character of the page: the same character on the
    same line, its box the page's or the part of it left where a box reaching into its
    neighbour's was cut back."""
    x0, y0, x1, y1 = char["bbox"]
    return any(x0 - 0.01 <= a and b <= x1 + 0.01
               for a, b in read.get((char["c"], y0, y1), ()))


def dropped_lines(data):
    """(page, reader, text) of every body line or word the document's lines lack."""
    document = quorl.PdfDocument(pymupdf.open("pdf", data))
    chars, texts = {}, {}
    for line in document.lines:
        for c in line["chars"]:
            x0, y0, x1, y1 = c["bbox"]
            chars.setdefault(line["page"], {}).setdefault((c["c"], y0, y1), []).append((x0, x1))
        texts[line["page"]] = texts.get(line["page"], "") + re.sub(r"\s", "", line["text"])
    dropped = []
    for page, words in zip(document.doc, pdftotext_words(data)):
        body, read, text_read = body_of(document, page), chars.get(page.number, {}), texts.get(
            page.number, "")
        for block in page.get_text("rawdict")["blocks"]:
            for line in block.get("lines", []):
                shown = [c for s in line["spans"] for c in s["chars"] if not c["c"].isspace()]
                text = "".join(c["c"] for c in shown)
                if in_body(pymupdf.Rect(line["bbox"]), text, body, page) and not all(
                        is_read(c, read) for c in shown):
                    dropped.append((page.number, "pymupdf", text))
        dropped += [(page.number, "pdftotext", word) for rect, word in words
                    if in_body(rect, word, body, page) and word not in text_read]
    return dropped


@pytest.mark.parametrize("name", real_patents.NAMES)
def test_no_dropped_line_on_real_publications(name):
    assert dropped_lines(real_patents.pdf_path(name).read_bytes()) == []


@pytest.mark.parametrize("seed,knobs", [
    (7, {}),  # the sample's seed: abstract lines past the right column
    (3, dict(sequences=2, figures=3)),
    (9, dict(split_lines=4, nbsp_lines=2, mixed_size_lines=3, header_spacing="mixed")),
])
def test_no_dropped_line_on_generated_patents(seed, knobs):
    assert dropped_lines(generate_patent(seed, **knobs).pdf) == []


def test_no_dropped_line_finds_a_dropped_line():
    doc = pymupdf.open("pdf", generate_patent(7).pdf)
    doc[1].insert_text((70, 785), "正文区域之下的一行", fontname="china-s", fontsize=10.5)
    assert dropped_lines(doc.tobytes()) == [
        (1, "pymupdf", "正文区域之下的一行"), (1, "pdftotext", "正文区域之下的一行")]
