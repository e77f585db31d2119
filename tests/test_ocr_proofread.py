"""A scan's text layer proofread against the patent's own text: what is corrected, what is left
as read, and a real publication's page whose characters Tesseract misreads."""
import difflib

import pymupdf
import pytest

import quorl
from quorl_mark.job import load_html
from quorl_mark.ocr.document import ocr_document
from quorl_mark.ocr.lines import TextLine
from quorl_mark.ocr.proofread import proofread
from real_patents import pdf_path, standin_html
from scans import office_scan

PATENT = "根据权利要求1所述的方法，其特征在于，所述步骤S1包括：对所述日志进行扫描。"


@pytest.mark.parametrize("read, corrected", [
    (["所述的方法，其特征在于，所述步又S1包括：对"], ["所述的方法，其特征在于，所述步骤S1包括：对"]),
    (["其特征在于，所述步又$1包括：A所述日志"], ["其特征在于，所述步骤S1包括：对所述日志"]),
    (["所述步又S1"], None),  # too little agrees around the stretch
    (["在于，所述S1包括：对所述日志"], None),  # less read than printed: nothing is inserted
    (["其特征在于，所又又又又S1包括：对"], None),  # a stretch too long to be a misreading
    (["其特征在于，所述步又", "$1包括：对所述日志进行扫描。"], None),  # across two lines
    (["一种车辆的悬架，包括弹簧和减振器，所述弹又连接车架"], None),  # another patent's text
])
def test_a_short_misreading_between_agreeing_text_takes_the_patents_characters(read, corrected):
    pages = [[TextLine(700.0 + 20 * i, 10.0, [(ch, 72.0 + 10 * k) for k, ch in enumerate(text)])
              for i, text in enumerate(read)]]
    changed = proofread(pages, PATENT)
    assert [line.text for line in pages[0]] == (corrected or read)
    assert changed == sum(a != b for a, b in zip("".join(read), "".join(corrected or read)))
    assert all(x == 72.0 + 10 * k for line in pages[0] for k, (_, x) in enumerate(line.chars))


@pytest.mark.parametrize("a, b", [(b"x", "y"), ("x", None)])
def test_opcodes_take_only_text(a, b):
    assert quorl._opcodes("步又S", "步骤S") == \
        difflib.SequenceMatcher(None, "步又S", "步骤S", autojunk=False).get_opcodes()
    with pytest.raises(TypeError, match="must be str"):
        quorl._opcodes(a, b)


def test_a_real_description_page_reads_the_patents_words():
    """Tesseract's Chinese model reads this publication's 骤 as 又 and 缀 as 绥: proofread against
    the patent's text, every 步骤 and 前缀 printed on the page is in its text layer."""
    text = pymupdf.open(pdf_path("CN110532550A"))
    text.select([4])
    pdf = text.tobytes()
    # The page's part only: the claims say much of it again, and a page alone would align there.
    reference = load_html(standin_html("CN110532550A")).get_text("description")
    result = ocr_document(office_scan(pdf, 300, skew=0.4, seed=1), jobs=2, reference=reference)
    printed, read = ("".join(pymupdf.open("pdf", out)[0].get_text().split())
                     for out in (pdf, result.pdf))
    assert printed.count("步骤") >= 5
    assert [read.count(word) for word in ("步骤", "前缀", "步又")] == \
        [printed.count(word) for word in ("步骤", "前缀", "步又")]
    with pytest.raises(TypeError, match="reference must be str"):
        ocr_document(pdf, reference=b"bytes")
