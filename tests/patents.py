"""Test patents: PDFs laid out like Chinese invention-patent publications, with their full-text HTML.

``generate_patent(seed=0, **knobs)`` returns a :class:`Patent` whose ``pdf`` (bytes) and ``html``
(str) describe the same invention, deterministically per seed and knobs.

The PDF has A4 pages (595 x 842 pt) written with PyMuPDF's built-in "china-s" font for CJK text,
Helvetica for ASCII and a Times-Roman resource (with its own ToUnicode map) for no-break spaces,
so that extraction reads every character back exactly as written:

- page 0: the publication's header lines, a round emblem (first vector drawing), the horizontal
  separator (second drawing), just above it on the right a single-line box with the page counts
  ("权利要求书2页 说明书8页 附图2页", plus "序列表N页" with a sequence listing), below it two
  columns down to y 770: numbered bibliographic fields on the left, title and abstract (and an
  optional abstract figure) on the right;
- later pages: "CN ... A" at the top left, the section title centred in the header band
  ``Rect(160, 20, 480, 60)``, "i/n页" at the top right, the body inside ``Rect(50, 55, 555, 770)``
  and the page number at the bottom: claims pages, description pages (headings and paragraphs
  numbered [0001]...), optional sequence-listing pages and drawings pages with raster figures and
  their captions.

The HTML has the sections ``cn-bibliographic-info``, ``claims``, ``description`` and ``drawings``;
fields, claims and paragraphs are ``div`` elements with ids and classes, headings ``h2`` with ids,
figures ``img`` with ids and src. Elements are separated by newlines and never indented.

Knobs (all optional):

- ``claims`` (4): number of claims.
- ``paragraphs`` (10): number of paragraphs of the embodiment section of the description (the
  other sections add a few more, one per figure among them).
- ``figures`` (2): number of figures; 0 leaves out the drawings pages and the HTML images.
- ``sequences`` (0): number of sequences in a sequence listing; > 0 adds "序列表" pages after the
  description and the count "序列表N页".
- ``pages`` (None): when given, ``paragraphs`` is raised until the PDF has at least this many pages.
- ``abstract_figure`` (True): an image under the abstract in the right column of page 0.
- ``drawings_title`` ("说明书附图"): the header title of the drawings pages.
- ``header_spacing`` (None): characters put between the characters of every section title: one
  of " ", "\\u3000", "\\u00a0", or "mixed" (each page picks one of none, space, U+3000, U+00A0).
- ``header_overrides`` ({}): page index (from 1) -> header title printed instead of the
  section's own.
- ``count_text`` (None): the text of the page-count box instead of the true counts; ``count_lines``
  (1): 0 leaves the box out, 2 prints it on two lines.
- ``split_lines`` (0): number of body lines written as two pieces, the right piece first.
- ``nbsp_lines`` (0): number of body lines holding a no-break space (absent from the HTML).
- ``mixed_size_lines`` (0): number of body lines with a stretch in a smaller font size.
- ``substitutions``, ``insertions``, ``deletions``, ``halfwidth`` (0): number of small edits made
  to the HTML texts only (a character replaced, a character inserted, a character deleted, a
  full-width punctuation mark turned half-width); ``blanks`` (0): blanks put after a "，", "；"
  or "：" of the HTML texts only.
- ``first_page`` (()): what else the first page prints, any of "logo" (a box framing the
  emblem), "header_rule" (a rule under the header's fields, above the page-count box) and
  "footer_rule" (a rule under the columns), drawn after the emblem and the separator; and how:
  "top_down" draws the page's drawings from the top down, "emblem_image" prints the emblem as an
  image (so the separator is no longer the second drawing with either).
- ``restated`` (False): a first claim of 4 to 6 sentences, a last claim restating it word for word
  and a summary paragraph restating each claim, as real publications do.

Besides ``pdf`` and ``html`` the result carries what a test needs to know about the layout:
``page_kinds`` (per page: "abstract", "claims", "descriptions", "seqs" or "drawings"),
``headers`` (the printed header title per page, "" for page 0), ``page_counts`` (claims,
description, sequence listing, drawings), ``page_lines`` (per page, the body lines in reading
order as extraction gives them, no-break spaces included; on page 0 the left column then the right
column), ``quirks`` (kind of quirk -> list of (page, line index in ``page_lines[page]``)),
``separator`` (x0, y, x1), ``html_texts`` (section id -> texts of its elements, edits applied)
and ``edits`` (the HTML edits made).

For cases the generator does not lay out, ``draw_separator``, ``write``, ``image`` and ``finish``
build pages by hand with the same fonts: draw_separator(first_page), write(page, x, y, text),
then finish(doc) for the bytes.
"""
from __future__ import annotations

import dataclasses
import random
from typing import Dict, List, Optional, Tuple

import pymupdf

PAGE_WIDTH, PAGE_HEIGHT = 595, 842
BODY_LEFT, BODY_RIGHT = 70.0, 525.0
BODY_TOP_BASELINE = 85.0
BODY_LAST_BASELINE = 762.0
LINE_PITCH = 22.0
BODY_SIZE = 10.5
NBSP = "\u00a0"

SECTION_TITLES = {
    "claims": "权利要求书",
    "descriptions": "说明书",
    "seqs": "序列表",
}
LINE_START_FORBIDDEN = "，。；：、）》”！？,.;:)"

# A Type 1 base font whose code 0xA0 reads back as U+00A0: without this map WinAnsiEncoding
# names that code "space", and extraction would turn every no-break space into a plain one.
_NBSP_TOUNICODE = b"""/CIDInit /ProcSet findresource begin
12 dict begin
begincmap
/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def
/CMapName /Adobe-Identity-UCS def
/CMapType 2 def
1 begincodespacerange
<00> <FF>
endcodespacerange
1 beginbfchar
<A0> <00A0>
endbfchar
endcmap
CMapName currentdict /CMap defineresource pop
end
end"""

_ASCII_WIDTHS: Dict[str, float] = {}


def char_font(ch: str) -> str:
    if ch == NBSP:
        return "tiro"
    if ord(ch) < 0x80:
        return "helv"
    return "china-s"


def char_width(ch: str, size: float) -> float:
    font = char_font(ch)
    if font == "china-s":
        return size
    key = font + ch
    if key not in _ASCII_WIDTHS:
        _ASCII_WIDTHS[key] = pymupdf.get_text_length(ch, fontname=font, fontsize=1.0)
    return _ASCII_WIDTHS[key] * size


def text_width(text: str, size: float) -> float:
    return sum(char_width(c, size) for c in text)


# ---------------------------------------------------------------------------------------------
# Content


@dataclasses.dataclass
class Content:
    pubno: str
    title: str
    fields: List[str]
    abstract: str
    claims: List[str]
    # ("h", text) headings and ("p", text) paragraphs, paragraph texts without their number
    description: List[Tuple[str, str]]
    figures: List[str]
    sequences: List[List[str]]


_SUBJECTS = ["处理器", "存储器", "传感器", "控制单元", "采集模块", "滤波单元", "壳体", "连接件",
             "驱动电机", "通信接口", "显示屏", "支撑架", "散热片", "检测电路", "调节阀"]
_VERBS = ["用于获取", "配置为接收", "用于计算", "用于存储", "通过总线发送", "用于比较", "用于调节",
          "用于输出", "根据预设规则处理", "用于检测"]
_OBJECTS = ["目标图像的像素数据", "第一控制信号", "环境温度参数", "预设阈值", "特征向量",
            "待处理数据", "反馈信号", "运行状态信息", "第二检测结果", "校准系数", "压力数值",
            "图像帧序列"]
_LINKS = ["，", "，并且", "；", "，其中", "，以使"]
_TITLE_HEADS = ["一种图像处理方法及装置", "一种智能温控系统", "一种数据传输方法", "一种检测设备",
                "一种散热结构及电子设备", "一种流体调节阀"]
_NAMES = ["张伟", "王芳", "李娜", "刘洋", "陈杰", "杨静", "赵磊", "黄敏"]
_COMPANIES = ["北京华创科技有限公司", "深圳智联电子有限公司", "上海精测仪器有限公司",
              "杭州云帆信息技术有限公司"]
_CITIES = ["北京市海淀区中关村大街1号", "深圳市南山区科技园2号楼", "上海市浦东新区张江路88号",
           "杭州市西湖区文三路100号"]


def _clause(rng: random.Random) -> str:
    clause = "所述" + rng.choice(_SUBJECTS) + rng.choice(_VERBS) + rng.choice(_OBJECTS)
    if rng.random() < 0.2:
        clause += "，误差小于%d%%" % rng.randint(1, 9)
    if rng.random() < 0.15:
        clause += "（例如S%d%02d）" % (rng.randint(1, 3), rng.randint(1, 20))
    return clause


def _sentence(rng: random.Random, clauses: int) -> str:
    parts = [_clause(rng)]
    for _ in range(clauses - 1):
        parts.append(rng.choice(_LINKS) + _clause(rng))
    return "".join(parts) + "。"


def _paragraph(rng: random.Random, low: int = 1, high: int = 4) -> str:
    return "".join(_sentence(rng, rng.randint(1, 3)) for _ in range(rng.randint(low, high)))


def make_content(rng: random.Random, claims: int, paragraphs: int, figures: int,
                 sequences: int, restated: bool = False) -> Content:
    pubno = "CN %d A" % rng.randint(100000000, 119999999)
    title = rng.choice(_TITLE_HEADS)
    subject = title[2:].split("及")[0]
    applicant = rng.choice(_COMPANIES)
    inventors = " ".join(rng.sample(_NAMES, rng.randint(2, 4)))
    year = rng.randint(2015, 2021)
    fields = [
        "(21)申请号 %d1%07d.%d" % (year, rng.randint(0, 9999999), rng.randint(0, 9)),
        "(22)申请日 %d.%02d.%02d" % (year, rng.randint(1, 12), rng.randint(1, 28)),
        "(71)申请人 " + applicant,
        "地址 %06d %s" % (rng.randint(100000, 999999), rng.choice(_CITIES)),
        "(72)发明人 " + inventors,
        "(74)专利代理机构 北京集佳知识产权代理有限公司 %d" % rng.randint(10000, 99999),
        "代理人 " + rng.choice(_NAMES),
        "(51)Int.Cl.",
        "G06F %d/%02d(2006.01)" % (rng.randint(1, 30), rng.randint(0, 99)),
    ]
    abstract = ("本发明公开了" + title + "，" + _paragraph(rng, 2, 3)
                + "本发明能够提高处理效率，降低成本。")
    first_claim = _paragraph(rng, 4, 6) if restated else _paragraph(rng, 1, 2)
    claim_texts = ["1.一种%s，其特征在于，包括：%s" % (subject, first_claim)]
    for number in range(2, claims + 1):
        claim_texts.append("%d.根据权利要求%d所述的%s，其特征在于，%s" % (
            number, rng.randint(1, number - 1), subject, _paragraph(rng, 1, 2)))
    bodies = [text.split("，", 1)[1] for text in claim_texts]
    if restated:
        # A system claim restating the first claim word for word, as real publications have.
        claim_texts.append("%d.一种%s系统，%s" % (claims + 1, subject, bodies[0]))
    figure_names = ["图%d" % (i + 1) for i in range(figures)]
    description: List[Tuple[str, str]] = [
        ("h", "技术领域"), ("p", "本发明涉及%s技术领域，具体涉及%s。" % (subject[:2], title[2:])),
        ("h", "背景技术"), ("p", _paragraph(rng)), ("p", _paragraph(rng)),
        ("h", "发明内容"), ("p", "本发明的目的在于提供" + title + "。" + _paragraph(rng)),
    ]
    if restated:
        # The summary restating the claims.
        description += [("p", "本发明提供的%s，%s" % (subject, body)) for body in bodies]
    if figures:
        description.append(("h", "附图说明"))
        for name in figure_names:
            description.append(("p", "%s为本发明实施例提供的%s的结构示意图；" % (name, subject)))
    description.append(("h", "具体实施方式"))
    for _ in range(paragraphs):
        description.append(("p", _paragraph(rng, 1, 5)))
    seqs = []
    for number in range(1, sequences + 1):
        bases = "".join(rng.choice("acgt") for _ in range(rng.randint(60, 200)))
        groups = [bases[i:i + 10] for i in range(0, len(bases), 10)]
        seq = ["<210> %d" % number, "<211> %d" % len(bases), "<212> DNA", "<213> 人工序列",
               "<400> %d" % number]
        seq += [" ".join(groups[i:i + 6]) for i in range(0, len(groups), 6)]
        seqs.append(seq)
    if seqs:
        seqs[0] = ["<110> " + applicant, "<120> " + title, "<160> %d" % sequences] + seqs[0]
    return Content(pubno, title, fields, abstract, claim_texts, description, figure_names, seqs)


# ---------------------------------------------------------------------------------------------
# Layout


@dataclasses.dataclass
class TextLine:
    x: float
    y: float  # baseline
    text: str
    size: float = BODY_SIZE
    # (start, end, size): a stretch of the text in another font size
    resized: Optional[Tuple[int, int, float]] = None
    # index at which the line is cut into two pieces written right piece first
    split_at: Optional[int] = None
    body: bool = True  # a line of the page's body region (reported in page_lines)


@dataclasses.dataclass
class Figure:
    rect: pymupdf.Rect
    number: int


@dataclasses.dataclass
class Page:
    kind: str
    header: str
    lines: List[TextLine] = dataclasses.field(default_factory=list)
    figures: List[Figure] = dataclasses.field(default_factory=list)


def wrap(text: str, width: float, size: float = BODY_SIZE, first_indent: float = 0.0) -> List[str]:
    """Greedy line breaking by character widths; punctuation never starts a line and the
    blanks at a break are dropped."""
    lines: List[str] = []
    current = ""
    used = first_indent
    for ch in text:
        w = char_width(ch, size)
        if current and used + w > width and ch not in LINE_START_FORBIDDEN:
            lines.append(current.rstrip(" "))
            current, used = "", 0.0
            if ch == " ":
                continue
        current += ch
        used += w
    if current:
        lines.append(current.rstrip(" "))
    return lines


class Flow:
    """Fills body pages of one section top to bottom."""

    def __init__(self, pages: List[Page], kind: str, header: str):
        self.pages = pages
        self.kind = kind
        self.header = header
        self.page: Optional[Page] = None
        self.y = 0.0

    def new_page(self) -> None:
        self.page = Page(self.kind, self.header)
        self.pages.append(self.page)
        self.y = BODY_TOP_BASELINE

    def line(self, x: float, text: str, size: float = BODY_SIZE) -> None:
        if self.page is None or self.y > BODY_LAST_BASELINE:
            self.new_page()
        self.page.lines.append(TextLine(x, self.y, text, size))
        self.y += LINE_PITCH

    def paragraph(self, text: str, x: float = BODY_LEFT, indent: float = 0.0) -> None:
        for i, line in enumerate(wrap(text, BODY_RIGHT - x, first_indent=indent)):
            self.line(x + (indent if i == 0 else 0.0), line)

    def space(self, height: float) -> None:
        if self.page is not None:
            self.y += height

    def figure(self, number: int) -> None:
        height, caption_gap = 240.0, 30.0
        if self.page is None or self.y - 10 + height + caption_gap > BODY_LAST_BASELINE:
            self.new_page()
        top = self.y - 10
        rect = pymupdf.Rect(160, top, 435, top + height)
        self.page.figures.append(Figure(rect, number))
        self.y = top + height + caption_gap
        caption = "图%d" % number
        self.line((PAGE_WIDTH - text_width(caption, BODY_SIZE)) / 2, caption)
        self.y += 20


def layout(content: Content, separator_y: float, abstract_figure: bool,
           drawings_title: str) -> List[Page]:
    first = Page("abstract", "")
    first.lines += [
        TextLine(105, 50, "(19)中华人民共和国国家知识产权局", 15, body=False),
        TextLine(70, 92, "(12)发明专利申请", 15, body=False),
        TextLine(300, separator_y - 112, "(10)申请公布号 " + content.pubno, 10.5, body=False),
        TextLine(300, separator_y - 90, "(43)申请公布日 2019.06.14", 10.5, body=False),
    ]
    y = separator_y + 25
    for field in content.fields:
        for line in wrap(field, 220):
            first.lines.append(TextLine(55, y, line))
            y += 20
    y = separator_y + 25
    right = [("(54)发明名称", 0.0)] + [(l, 0.0) for l in wrap(content.title, 215)]
    right.append(("(57)摘要", 0.0))
    for i, line in enumerate(wrap(content.abstract, 215, first_indent=2 * BODY_SIZE)):
        right.append((line, 2 * BODY_SIZE if i == 0 else 0.0))
    for line, indent in right:
        first.lines.append(TextLine(312 + indent, y, line))
        y += 20
    if abstract_figure and y + 150 < 770:
        first.figures.append(Figure(pymupdf.Rect(340, y, 510, y + 140), 0))

    pages = [first]
    claims = Flow(pages, "claims", SECTION_TITLES["claims"])
    for claim in content.claims:
        claims.paragraph(claim, indent=2 * BODY_SIZE)

    desc = Flow(pages, "descriptions", SECTION_TITLES["descriptions"])
    desc.new_page()
    desc.line((PAGE_WIDTH - text_width(content.title, 14)) / 2, content.title, 14)
    desc.space(6)
    number = 0
    for tag, text in content.description:
        if tag == "h":
            desc.line(BODY_LEFT, text)
        else:
            number += 1
            desc.paragraph("[%04d]" % number + text, indent=2 * BODY_SIZE)

    if content.sequences:
        seqs = Flow(pages, "seqs", SECTION_TITLES["seqs"])
        for seq in content.sequences:
            for line in seq:
                seqs.line(BODY_LEFT, line)
            seqs.space(LINE_PITCH)

    if content.figures:
        drawings = Flow(pages, "drawings", drawings_title)
        for number in range(1, len(content.figures) + 1):
            drawings.figure(number)
    return pages


def page_counts(pages: List[Page]) -> Tuple[int, int, int, int]:
    kinds = [p.kind for p in pages]
    return (kinds.count("claims"), kinds.count("descriptions"), kinds.count("seqs"),
            kinds.count("drawings"))


def count_box_text(counts: Tuple[int, int, int, int]) -> str:
    claims, desc, seqs, figs = counts
    text = "权利要求书%d页 说明书%d页" % (claims, desc)
    if seqs:
        text += " 序列表%d页" % seqs
    if figs:
        text += " 附图%d页" % figs
    return text


def spaced(title: str, sep: str) -> str:
    return sep.join(title) if sep else title


# ---------------------------------------------------------------------------------------------
# Quirks


def place_quirks(pages: List[Page], rng: random.Random, split: int, nbsp: int,
                 mixed: int) -> Dict[str, List[Tuple[int, int]]]:
    """Marks body lines of the claims and description pages with the extraction quirks."""
    candidates = []
    for pno, page in enumerate(pages):
        if page.kind not in ("claims", "descriptions"):
            continue
        body = [l for l in page.lines if l.body]
        for lno, line in enumerate(body):
            if len(line.text) >= 8 and line.size == BODY_SIZE:
                candidates.append((pno, lno, line))
    wanted = split + nbsp + mixed
    if wanted > len(candidates):
        raise ValueError("only %d lines can take a quirk, %d asked" % (len(candidates), wanted))
    chosen = rng.sample(candidates, wanted)
    chosen.sort(key=lambda item: (item[0], item[1]))
    order = ["split"] * split + ["nbsp"] * nbsp + ["mixed"] * mixed
    rng.shuffle(order)
    quirks: Dict[str, List[Tuple[int, int]]] = {"split": [], "nbsp": [], "mixed": []}
    for (pno, lno, line), quirk in zip(chosen, order):
        quirks[quirk].append((pno, lno))
        n = len(line.text)
        if quirk == "split":
            line.split_at = rng.randint(2, n - 2)
        elif quirk == "nbsp":
            at = rng.randint(2, n - 2)
            line.text = line.text[:at] + NBSP + line.text[at:]
        else:
            start = rng.randint(1, n - 4)
            line.resized = (start, start + rng.randint(2, 4), 8.0)
    return quirks


# ---------------------------------------------------------------------------------------------
# Rendering


def _runs(line: TextLine, start: int, end: int, x: float):
    """The stretches of one line's text[start:end] in one font and size, with their x."""
    runs = []
    for i in range(start, end):
        ch = line.text[i]
        size = line.size
        if line.resized and line.resized[0] <= i < line.resized[1]:
            size = line.resized[2]
        key = (char_font(ch), size)
        if runs and runs[-1][0] == key:
            runs[-1][2] += ch
        else:
            runs.append([key, x, ch])
        x += char_width(ch, size)
    return runs, x


def draw_line(shape: pymupdf.Shape, line: TextLine) -> None:
    if line.split_at is None:
        pieces = [(0, len(line.text), line.x)]
    else:
        # The right piece is drawn first: extraction then reports it before the left one.
        _, split_x = _runs(line, 0, line.split_at, line.x)
        pieces = [(line.split_at, len(line.text), split_x), (0, line.split_at, line.x)]
    for start, end, x in pieces:
        runs, _ = _runs(line, start, end, x)
        for (font, size), run_x, text in runs:
            shape.insert_text((run_x, line.y), text, fontname=font, fontsize=size)


def figure_pixmap(rng: random.Random, width: int, height: int) -> pymupdf.Pixmap:
    """A grey line drawing of boxes, built row by row (Pixmap.set_rect works pixel by pixel)."""
    samples = bytearray(b"\xff" * (width * height))

    def fill(x0: int, y0: int, x1: int, y1: int, value: int) -> None:
        for y in range(y0, y1):
            samples[y * width + x0:y * width + x1] = bytes([value]) * (x1 - x0)

    for _ in range(rng.randint(4, 9)):
        x0, y0 = rng.randint(0, width - 20), rng.randint(0, height - 20)
        x1, y1 = rng.randint(x0 + 10, width), rng.randint(y0 + 10, height)
        fill(x0, y0, x1, y1, 0)
        if x1 - x0 > 4 and y1 - y0 > 4:
            fill(x0 + 2, y0 + 2, x1 - 2, y1 - 2, 255)
    return pymupdf.Pixmap(pymupdf.csGRAY, width, height, bytes(samples), False)


FIRST_PAGE_EXTRAS = ("logo", "header_rule", "footer_rule", "emblem_image", "top_down")
HEADER_RULE_Y, FOOTER_RULE_Y = 156.0, 782.0
EMBLEM = (55, 25, 95, 65)


def draw_first_page_drawings(page: pymupdf.Page, separator: Tuple[float, float, float],
                             first_page=()) -> None:
    """The emblem, the separator, the short rule under the title and the extras asked for. By
    default the emblem and the separator are the first two drawings and the extras come after;
    "top_down" draws them all from the top of the page down, "emblem_image" prints the emblem as
    an image, as publications do, so it is no drawing at all."""
    x0, y, x1 = separator

    def rule(at, width=1.0, left=x0, right=x1):
        return at, lambda: page.draw_line((left, at), (right, at), color=(0, 0, 0), width=width)

    drawings = [(EMBLEM[1], lambda: draw_emblem(page)), rule(y), rule(100, 0.5, 70, 260)]
    if "emblem_image" in first_page:
        emblem = pymupdf.Pixmap(pymupdf.csGRAY, pymupdf.IRect(0, 0, 40, 40), False)
        emblem.clear_with(96)
        drawings[0] = (EMBLEM[1], lambda: page.insert_image(EMBLEM, pixmap=emblem))
    if "logo" in first_page:
        drawings.append((18, lambda: page.draw_rect((50, 18, 100, 72), color=(0, 0, 0), width=1)))
    for extra, at in (("header_rule", HEADER_RULE_Y), ("footer_rule", FOOTER_RULE_Y)):
        if extra in first_page:
            drawings.append(rule(at))
    if "top_down" in first_page:
        drawings.sort(key=lambda drawing: drawing[0])
    for _, draw in drawings:
        draw()


def render(pages: List[Page], content: Content, separator: Tuple[float, float, float],
           count_lines: List[str], rng: random.Random, first_page=()) -> bytes:
    doc = pymupdf.open()
    for pno, page_layout in enumerate(pages):
        page = doc.new_page(width=PAGE_WIDTH, height=PAGE_HEIGHT)
        if pno == 0:
            draw_first_page_drawings(page, separator, first_page)
        shape = page.new_shape()
        if pno > 0:
            header = page_layout.header
            shape.insert_text((60, 45), content.pubno, fontname="helv", fontsize=9)
            header_line = TextLine((320 - text_width(header, 14) / 2), 45, header, 14, body=False)
            draw_line(shape, header_line)
            draw_line(shape, TextLine(495, 45, "%d/%d页" % (
                sum(1 for p in pages[1:pno + 1] if p.kind == page_layout.kind),
                sum(1 for p in pages if p.kind == page_layout.kind)), 9, body=False))
            draw_line(shape, TextLine((PAGE_WIDTH - text_width(str(pno + 1), 9)) / 2, 805,
                                      str(pno + 1), 9, body=False))
        else:
            for i, text in enumerate(count_lines):
                y = separator[1] - 8 - 12 * (len(count_lines) - 1 - i)
                draw_line(shape, TextLine(305, y, text, 9, body=False))
        for line in page_layout.lines:
            draw_line(shape, line)
        shape.commit()
        for fig in page_layout.figures:
            w, h = int(fig.rect.width * 1.5), int(fig.rect.height * 1.5)
            page.insert_image(fig.rect, pixmap=figure_pixmap(rng, w, h))
    data = finish(doc)
    doc.close()
    return data


# ---------------------------------------------------------------------------------------------
# Hand-made pages, for cases the generator does not lay out


def write(page: pymupdf.Page, x: float, y: float, text: str, size: float = BODY_SIZE) -> None:
    """Writes one line at baseline y as the generator does (CJK, ASCII and no-break spaces each
    in their font); call finish() on the document afterwards."""
    shape = page.new_shape()
    draw_line(shape, TextLine(x, y, text, size, body=False))
    shape.commit()


def draw_emblem(page: pymupdf.Page) -> None:
    page.draw_circle((75, 45), 20, color=(0.6, 0, 0), width=1.5)


def draw_separator(page: pymupdf.Page, y: float = 240.0, x0: float = 50.0,
                   x1: float = 545.0) -> None:
    """The first page's emblem and separator line: the first two vector drawings."""
    draw_emblem(page)
    page.draw_line((x0, y), (x1, y), color=(0, 0, 0), width=1)


def finish(doc: pymupdf.Document) -> bytes:
    """The bytes of a document written with write(), its no-break spaces readable."""
    cmap_xref = doc.get_new_xref()
    doc.update_object(cmap_xref, "<<>>")
    doc.update_stream(cmap_xref, _NBSP_TOUNICODE)
    for xref in range(1, doc.xref_length()):
        if doc.xref_get_key(xref, "BaseFont") == ("name", "/Times-Roman"):
            doc.xref_set_key(xref, "ToUnicode", "%d 0 R" % cmap_xref)
    return doc.tobytes(garbage=1, deflate=True, no_new_id=True)


def image(page: pymupdf.Page, rect, seed: int = 0) -> None:
    """A raster figure filling rect."""
    rect = pymupdf.Rect(rect)
    page.insert_image(rect, pixmap=figure_pixmap(random.Random(seed), int(rect.width) + 20,
                                                 int(rect.height) + 20))


# ---------------------------------------------------------------------------------------------
# HTML

_HALF = {"，": ",", "。": ".", "；": ";", "：": ":", "（": "(", "）": ")"}
_FILLERS = "的一是在了和有为其与"


def edit_texts(texts: List[List[str]], rng: random.Random, substitutions: int, insertions: int,
               deletions: int, halfwidth: int, blanks: int = 0) -> List[Tuple[str, int, int, str, str]]:
    """Applies the HTML edits in place to the editable texts; returns (kind, group, item, old,
    new) per edit."""
    slots = [(g, i) for g, group in enumerate(texts) for i, _ in enumerate(group)]
    edits = []
    plan = (["substitution"] * substitutions + ["insertion"] * insertions
            + ["deletion"] * deletions + ["halfwidth"] * halfwidth + ["blank"] * blanks)
    rng.shuffle(plan)
    for kind in plan:
        def qualifies(c: str) -> bool:
            if kind == "blank":
                return c in "，；："
            return c in _HALF if kind == "halfwidth" else "\u4e00" <= c <= "\u9fff"

        usable = [(g, i) for g, i in slots if any(qualifies(c) for c in texts[g][i])]
        if not usable:
            raise ValueError("no HTML text can take a %s" % kind)
        g, i = rng.choice(usable)
        text = texts[g][i]
        k = rng.choice([k for k, c in enumerate(text) if qualifies(c)])
        if kind == "halfwidth":
            new = text[:k] + _HALF[text[k]] + text[k + 1:]
        elif kind == "blank":
            new = text[:k + 1] + " " + text[k + 1:]
        elif kind == "substitution":
            new = text[:k] + rng.choice([c for c in _FILLERS if c != text[k]]) + text[k + 1:]
        elif kind == "insertion":
            new = text[:k] + rng.choice(_FILLERS) + text[k:]
        else:
            new = text[:k] + text[k + 1:]
        texts[g][i] = new
        edits.append((kind, g, i, text, new))
    return edits


def escape(text: str) -> str:
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def make_html(content: Content, abstract_figure: bool, rng: random.Random,
              edits: Dict[str, int]) -> Tuple[str, Dict[str, List[str]], list]:
    description_texts = []
    number = 0
    for tag, text in content.description:
        if tag == "p":
            number += 1
            text = "[%04d]" % number + text
        description_texts.append(text)
    sequence_texts = [" ".join(seq) for seq in content.sequences]
    groups = [list(content.fields), [content.abstract], list(content.claims),
              description_texts, sequence_texts]
    made = edit_texts(groups, rng, **edits)
    fields, (abstract,), claims, description_texts, sequence_texts = groups

    out = ['<!DOCTYPE html>', '<html>', '<head>', '<meta charset="utf-8">',
           '<title>%s</title>' % escape(content.pubno), '</head>', '<body>',
           '<h1 id="publication-number">%s</h1>' % escape(content.pubno),
           '<div id="cn-bibliographic-info">']
    for i, field in enumerate(fields, 1):
        out.append('<div id="bib%04d" class="bibliographic-field">%s</div>' % (i, escape(field)))
    out.append('<h2 id="invention-title-heading">(54)发明名称</h2>')
    out.append('<div id="invention-title" class="invention-title">%s</div>' % escape(content.title))
    out.append('<h2 id="abstract-heading">(57)摘要</h2>')
    out.append('<div id="abstract" class="abstract">%s</div>' % escape(abstract))
    if abstract_figure:
        out.append('<img id="abstract-figure" src="images/abstract.png" alt="摘要附图">')
    out.append('</div>')
    out.append('<div id="claims">')
    for i, claim in enumerate(claims, 1):
        out.append('<div id="cl%04d" class="claim">%s</div>' % (i, escape(claim)))
    out.append('</div>')
    out.append('<div id="description">')
    out.append('<div id="description-title" class="invention-title">%s</div>'
               % escape(content.title))
    heading = number = 0
    for (tag, _), text in zip(content.description, description_texts):
        if tag == "h":
            heading += 1
            out.append('<h2 id="h%04d">%s</h2>' % (heading, escape(text)))
        else:
            number += 1
            out.append('<div id="p%04d" class="description-paragraph">%s</div>'
                       % (number, escape(text)))
    for i, text in enumerate(sequence_texts, 1):
        out.append('<div id="sq%04d" class="sequence-listing">%s</div>' % (i, escape(text)))
    out.append('</div>')
    out.append('<div id="drawings">')
    for i, name in enumerate(content.figures, 1):
        out.append('<img id="f%04d" src="images/f%04d.png" alt="%s">' % (i, i, name))
        out.append('<div id="fc%04d" class="figure-caption">%s</div>' % (i, name))
    out.append('</div>')
    out += ['</body>', '</html>', '']
    html_texts = {
        "cn-bibliographic-info": fields + ["(54)发明名称", content.title, "(57)摘要", abstract],
        "claims": claims,
        "description": [content.title] + description_texts + sequence_texts,
        "drawings": list(content.figures),
    }
    return "\n".join(out), html_texts, made


# ---------------------------------------------------------------------------------------------


@dataclasses.dataclass
class Patent:
    seed: int
    knobs: dict
    pdf: bytes
    html: str
    title: str
    pubno: str
    page_kinds: List[str]
    headers: List[str]
    page_counts: Tuple[int, int, int, int]
    page_lines: List[List[str]]
    quirks: Dict[str, List[Tuple[int, int]]]
    separator: Tuple[float, float, float]
    html_texts: Dict[str, List[str]]
    edits: list

    def open(self) -> pymupdf.Document:
        return pymupdf.open("pdf", self.pdf)


_DEFAULTS = dict(claims=4, paragraphs=10, figures=2, sequences=0, pages=None, abstract_figure=True,
                 drawings_title="说明书附图", header_spacing=None, header_overrides=None,
                 count_text=None, count_lines=1, split_lines=0, nbsp_lines=0, mixed_size_lines=0,
                 substitutions=0, insertions=0, deletions=0, halfwidth=0, blanks=0,
                 restated=False, first_page=())


def generate_patent(seed: int = 0, **knobs) -> Patent:
    unknown = set(knobs) - set(_DEFAULTS)
    if unknown:
        raise TypeError("unknown knobs: %s" % ", ".join(sorted(unknown)))
    k = dict(_DEFAULTS, **knobs)
    if k["count_lines"] not in (0, 1, 2):
        raise ValueError("count_lines must be 0, 1 or 2")
    if set(k["first_page"]) - set(FIRST_PAGE_EXTRAS):
        raise ValueError("first_page holds only %s" % ", ".join(FIRST_PAGE_EXTRAS))

    # Separate streams, so that a knob of one aspect leaves the others as they were.
    content_rng = random.Random("content-%d" % seed)
    layout_rng = random.Random("layout-%d" % seed)
    separator_y = 228 + layout_rng.randint(0, 24) + layout_rng.choice((0.0, 0.5))
    separator = (50.0 + layout_rng.randint(-2, 2), separator_y, 545.0 + layout_rng.randint(-2, 2))

    def build(paragraphs):
        content = make_content(random.Random("content-%d" % seed), k["claims"], paragraphs,
                               k["figures"], k["sequences"], k["restated"])
        return content, layout(content, separator_y, k["abstract_figure"], k["drawings_title"])

    paragraphs = k["paragraphs"]
    content, pages = build(paragraphs)
    if k["pages"] is not None:
        while len(pages) < k["pages"]:
            paragraphs += max(1, (k["pages"] - len(pages)) * 8)
            content, pages = build(paragraphs)
        while paragraphs > 0 and len(build(paragraphs - 1)[1]) >= k["pages"]:
            paragraphs -= 1
            content, pages = build(paragraphs)
    del content_rng

    quirks = place_quirks(pages, random.Random("quirks-%d" % seed), k["split_lines"],
                          k["nbsp_lines"], k["mixed_size_lines"])

    spacing_rng = random.Random("headers-%d" % seed)
    overrides = k["header_overrides"] or {}
    headers = [""]
    for pno, page in enumerate(pages[1:], 1):
        sep = k["header_spacing"]
        if sep == "mixed":
            sep = spacing_rng.choice(["", " ", "\u3000", NBSP])
        title = overrides.get(pno, page.header)
        page.header = spaced(title, sep or "")
        headers.append(page.header)

    counts = page_counts(pages)
    if k["count_lines"] == 0:
        count_lines: List[str] = []
    else:
        text = k["count_text"] if k["count_text"] is not None else count_box_text(counts)
        if k["count_lines"] == 2:
            cut = text.index(" ", len(text) // 2) if " " in text[len(text) // 2:] else len(text) // 2
            count_lines = [text[:cut], text[cut:].strip(" ")]
        else:
            count_lines = [text]

    pdf = render(pages, content, separator, count_lines, random.Random("figures-%d" % seed),
                 tuple(k["first_page"]))
    html, html_texts, made = make_html(
        content, k["abstract_figure"], random.Random("html-%d" % seed),
        dict(substitutions=k["substitutions"], insertions=k["insertions"],
             deletions=k["deletions"], halfwidth=k["halfwidth"], blanks=k["blanks"]))

    page_lines = []
    for page in pages:
        body = [l.text for l in page.lines if l.body]
        if page.kind == "abstract":
            left = [l.text for l in page.lines if l.body and l.x < 297]
            right = [l.text for l in page.lines if l.body and l.x >= 297]
            body = left + right + ["#imagefile#"] * len(page.figures)
        elif page.kind == "drawings":
            # a figure and its caption, top to bottom
            body = []
            captions = [l.text for l in page.lines if l.body]
            for fig, caption in zip(page.figures, captions):
                body += ["#imagefile#", caption]
        page_lines.append(body)

    return Patent(seed=seed, knobs=k, pdf=pdf, html=html, title=content.title,
                  pubno=content.pubno, page_kinds=[p.kind for p in pages], headers=headers,
                  page_counts=counts, page_lines=page_lines, quirks=quirks, separator=separator,
                  html_texts=html_texts, edits=made)


if __name__ == "__main__":
    import sys

    patent = generate_patent(int(sys.argv[1]) if len(sys.argv) > 1 else 0)
    out = sys.argv[2] if len(sys.argv) > 2 else "patent"
    with open(out + ".pdf", "wb") as f:
        f.write(patent.pdf)
    with open(out + ".html", "w", encoding="utf-8") as f:
        f.write(patent.html)
    print(patent.page_kinds, patent.page_counts)
