"""Real patent office PDFs (tests/real_pdfs) and a stand-in for their full-text HTML.

No full-text HTML of them is at hand, so one is made from the PDF by an independent reader:
poppler's ``pdftotext -layout`` of each page, running header and page number dropped, the lines of
a part joined and put into the sections a full-text HTML has. pdftotext's own spacing ("1 .一种",
blanks where a line was justified) stands for the differences a real HTML has.
"""
import html
import pathlib
import re
import subprocess

FOLDER = pathlib.Path(__file__).parent / "real_pdfs"
NAMES = sorted(p.stem for p in FOLDER.glob("*.pdf"))
HEADINGS = ("技术领域", "背景技术", "发明内容", "附图说明", "具体实施方式")
_PAGE_NUMBER = re.compile(r"\d+")
_CLAIM_START = re.compile(r"\d+\s*\.")
_PARAGRAPH_START = re.compile(r"\[\d{4}\]")


def pdf_path(name):
    return FOLDER / (name + ".pdf")


def _pages(path):
    text = subprocess.run(["pdftotext", "-layout", str(path), "-"], capture_output=True,
                          check=True, text=True).stdout
    return text.split("\f")[:-1]


def _kind(page_number, header):
    squeezed = re.sub(r"\s", "", header)
    if page_number == 0:
        return "front"
    for word, kind in (("说明书附图", "drawings"), ("权利要求书", "claims"), ("说明书", "description")):
        if word in squeezed:
            return kind
    return None


def _body_lines(page, publication):
    """A page's lines without its running header, page number and the vertical number."""
    lines = [line.strip() for line in page.splitlines()]
    lines = [line for line in lines if line]
    if lines and publication in lines[0].replace(" ", "") and "页" in lines[0]:
        lines = lines[1:]
    return [line for line in lines
            if not _PAGE_NUMBER.fullmatch(line) and line.replace(" ", "") != publication]


def _front(lines):
    """The title and the abstract of page 1: the lines from (54) on."""
    start = next(k for k, line in enumerate(lines) if line.startswith("(54)"))
    abstract = next(k for k, line in enumerate(lines) if line.startswith("(57)"))
    return "".join(lines[start + 1:abstract]), "".join(lines[abstract + 1:])


def _split(lines, starts):
    """The lines joined into pieces, each starting at a line that ``starts`` matches."""
    pieces = []
    for line in lines:
        if starts(line) or not pieces:
            pieces.append(line)
        else:
            pieces[-1] += line
    return pieces


def standin_html(name):
    """The stand-in full-text HTML of real patent ``name`` (for example "CN114785666B")."""
    publication = "%s%s%s" % (name[:2], name[2:-1], name[-1])
    parts = {"front": [], "claims": [], "description": [], "drawings": []}
    for number, page in enumerate(_pages(pdf_path(name))):
        header = next((line for line in page.splitlines() if line.strip()), "")
        kind = _kind(number, header)
        if kind:
            parts[kind] += _body_lines(page, publication)
    title, abstract = _front(parts["front"])
    e = html.escape
    out = ["<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>",
           "<h1 id=\"publication-number\">%s %s %s</h1>" % (name[:2], name[2:-1], name[-1]),
           "<div id=\"cn-bibliographic-info\">",
           "<h2 id=\"invention-title-heading\">(54)发明名称</h2>",
           "<div id=\"invention-title\">%s</div>" % e(title),
           "<h2 id=\"abstract-heading\">(57)摘要</h2>",
           "<div id=\"abstract\">%s</div></div>" % e(abstract), "<div id=\"claims\">"]
    for k, claim in enumerate(_split(parts["claims"], _CLAIM_START.match), 1):
        out.append("<div id=\"cl%04d\" class=\"claim\">%s</div>" % (k, e(claim)))
    out.append("</div><div id=\"description\">")
    body = parts["description"]
    heading_at = [k for k, line in enumerate(body) if line.replace(" ", "") in HEADINGS]
    out.append("<div id=\"description-title\">%s</div>"
               % e("".join(body[:heading_at[0] if heading_at else 0])))
    paragraph = 0
    for k, line in enumerate(body[heading_at[0] if heading_at else 0:]):
        if line.replace(" ", "") in HEADINGS:
            out.append("<h2 id=\"h%04d\">%s</h2>" % (k, e(line)))
        elif _PARAGRAPH_START.match(line) or out[-1].startswith("<h2"):
            paragraph += 1
            out.append("<div id=\"p%04d\">%s</div>" % (paragraph, e(line)))
        else:
            out[-1] = out[-1][:-len("</div>")] + e(line) + "</div>"
    out.append("</div><div id=\"drawings\">")
    for k, caption in enumerate(parts["drawings"], 1):
        out.append("<div id=\"fc%04d\" class=\"figure-caption\">%s</div>" % (k, e(caption)))
    out.append("</div></body></html>")
    return "\n".join(out)


def lcs_length(a, b):
    """The length of the longest common subsequence of two strings, bit-parallel."""
    masks = {}
    for k, c in enumerate(a):
        masks[c] = masks.get(c, 0) | (1 << k)
    full = (1 << len(a)) - 1
    v = full
    for c in b:
        u = v & masks.get(c, 0)
        v = ((v + u) | (v - u)) & full
    return len(a) - bin(v).count("1")
