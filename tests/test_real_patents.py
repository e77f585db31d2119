"""Real patent office publications against a full-text HTML made independently of quorl: every one
is read, every section aligns with its twin, and marks land on their own text."""
import contextlib
import io
import random
import re

import pytest

import quorl
import real_patents
from patents import generate_patent

SECTIONS = [("cn-bibliographic-info", "abstract"), ("claims", "claims"),
            ("description", "descriptions"), ("drawings", "drawings")]


def converter_of(html, pdf):
    with contextlib.redirect_stdout(io.StringIO()):
        return quorl.get_patent_converter(html, pdf)


@pytest.fixture(scope="module", params=real_patents.NAMES)
def real(request):
    name = request.param
    html = real_patents.standin_html(name)
    return name, converter_of(html, real_patents.pdf_path(name).read_bytes())


def equal_characters(converter, a_text, b_text, a_offset, b_offset):
    """Characters the converter's pairs align that are equal on both sides (a pair may span a
    replaced character)."""
    count = 0
    for (a1, a2), (b1, _) in converter.difflist:
        if a_offset <= a1 < a_offset + len(a_text):
            count += sum(a_text[a1 - a_offset + k] == b_text[b1 - b_offset + k]
                         for k in range(a2 - a1))
    return count


def section_shares(converter):
    """(section, aligned characters / longest common subsequence) of every section."""
    htmldoc, pdfdoc = converter.htmldoc, converter.pdfdoc
    b_offset = 0
    shares = []
    for section, kind in SECTIONS:
        b_text = pdfdoc.get_text([kind]).replace("\n", "")
        record = htmldoc.infodict.get(section)
        if record:
            a_text = htmldoc.get_text(section)
            lcs = real_patents.lcs_length(a_text, b_text)
            aligned = equal_characters(converter, a_text, b_text, record["start"], b_offset)
            shares.append((section, aligned / lcs if lcs else 1.0))
        b_offset += len(b_text)
    return shares


def test_every_section_aligns_with_its_twin(real):
    name, converter = real
    assert [s for s, _ in section_shares(converter)] == [s for s, _ in SECTIONS]
    for section, share in section_shares(converter):
        assert share >= 0.995, (name, section, share)


def page_characters(doc, page_number):
    """(character, box) of a page in PyMuPDF's own reading. A punctuation mark set in less than
    its box's width overlaps its neighbour: its box ends where the neighbour's begins."""
    chars = []
    for block in doc[page_number].get_text("rawdict")["blocks"]:
        for line in block.get("lines", ()):
            read = [(c["c"], c["bbox"]) for span in line["spans"] for c in span["chars"]]
            for (c, (x0, y0, x1, y1)), (_, following) in zip(read, read[1:] + [(None, None)]):
                if following and x0 < following[0] < x1:
                    x1 = following[0]
                if c.strip():
                    chars.append((c, (x0, y0, x1, y1)))
    return chars


def text_in(rect, chars):
    """The characters whose centres lie in ``rect``, left to right."""
    x0, y0, x1, y1 = rect
    inside = sorted((box[0], c) for c, box in chars
                    if x0 <= (box[0] + box[2]) / 2 <= x1 and y0 <= (box[1] + box[3]) / 2 <= y1)
    return "".join(c for _, c in inside)


def random_marks(converter, count, seed):
    rng = random.Random(seed)
    htmldoc = converter.htmldoc
    marks = []
    for section in ("cn-bibliographic-info", "claims", "description"):
        record = htmldoc.infodict[section]
        for _ in range(count):
            start = rng.randrange(record["start"], record["end"] - 2)
            end = min(record["end"], start + rng.randint(2, 80))
            marks.append({"start": start, "end": end})
    return marks


def rects_of(converter, mark):
    (first, (start, _)), (last, (_, end)) = mark["pdflines"][0], mark["pdflines"][-1]
    return converter.pdfdoc.getcontentposition((first, start), (last, end))


def squeezed(text):
    return re.sub(r"\s", "", text)


def test_random_marks_land_on_their_own_text(real):
    name, converter = real
    doc = converter.pdfdoc.doc
    chars = {}
    for mark in random_marks(converter, 15, name):
        html_text = squeezed(converter.htmldoc.text[mark["start"]:mark["end"]])
        converter.convert_mark_html2pdf(mark)
        drawn = ""
        for page, rect in rects_of(converter, mark):
            if page not in chars:
                chars[page] = page_characters(doc, page)
            drawn += text_in(tuple(rect), chars[page])
        assert squeezed(drawn) == html_text, (name, mark)


@pytest.fixture(scope="module")
def restated():
    """CN114785666B, whose system claim 8 restates method claim 1."""
    name = "CN114785666B"
    return converter_of(real_patents.standin_html(name), real_patents.pdf_path(name).read_bytes())


def test_a_restated_claim_is_marked_on_itself_not_on_its_twin(restated):
    html_text, pdf_lines = restated.htmldoc.text, restated.pdfdoc.get_text().split("\n")
    claim8 = html_text.index("8 .一种网络故障排查系统")
    words = "其中所述基于所述可疑路径信息，"
    start = html_text.index(words, claim8)
    mark = restated.convert_mark_html2pdf({"start": start, "end": start + len(words)})
    claim8_line = next(k for k, line in enumerate(pdf_lines) if line.startswith("8.一种"))
    assert all(line > claim8_line for line, _ in mark["pdflines"])
    line, (a, b) = mark["pdflines"][0]
    assert pdf_lines[line][a:b] == words


def test_the_diff_view_shows_a_restated_section_as_the_converter_aligns_it(restated):
    from quorl_mark.review import views

    a, b = restated.htmldoc.get_text("claims"), restated.pdfdoc.get_text(["claims"])
    _, equal, _, _ = views.escaped_view(quorl, a, b)
    assert equal >= 0.995 * real_patents.lcs_length(a, b.replace("\n", ""))


@pytest.mark.parametrize("seed, paragraphs", [(3, 10), (1, 40), (7, 150)])
def test_generated_restatements_align_with_their_twins(seed, paragraphs):
    patent = generate_patent(seed, restated=True, blanks=paragraphs * 8, halfwidth=10, claims=6,
                             paragraphs=paragraphs)
    converter = converter_of(patent.html, patent.pdf)
    for section, share in section_shares(converter):
        assert share >= 0.995, (seed, section, share)
    if seed == 3:  # the pattern captures plain difflib, as on real publications
        a, b = converter.htmldoc.get_text("claims"), converter.pdfdoc.get_text(["claims"])
        plain = sum(a2 - a1 for (a1, a2), _ in quorl.PositionMapper(a, b).spandiff)
        assert plain < 0.5 * real_patents.lcs_length(a, b.replace("\n", ""))
