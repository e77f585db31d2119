"""The review page of one marked patent: its HTML text and its marked PDF pages side by side, every
mark highlighted on both and listed, each a click (or n / p) away from where it landed.

``review_files`` gives ``index.html`` and the page images it shows, by relative file name. The
page opens from the file system: its style and script are inline (assets.py), the images
are relative links, and its Content-Security-Policy lets nothing else load or run. Every text of
the patent and of the marks reaches the page through ``views.escape``; the page carries no data
block for its script, which reads the marks from ``data-m`` attributes of numbers only.

What the alignment found different is read from the converter's ``difflist``, the alignment the
marks were placed by: HTML text outside its span pairs is only in the HTML, PDF text between them
is shown where it would stand, and a character a pair maps onto a different one is shown as
replaced (the HTML's flagged, the PDF's after it).
"""
import base64
import hashlib
import math
from collections import defaultdict

from .assets import SCRIPT, STYLE
from .views import escape
from ..errors import page_ranges
from ..vocabulary import MARK_TYPES, SECTIONS

PAGE_IMAGE = "pages/page-%03d.png"
_TYPES = set(MARK_TYPES) | {"equal"}
_SCRIPT_HASH = base64.b64encode(hashlib.sha256(SCRIPT.encode("utf-8")).digest()).decode("ascii")
_POLICY = ("default-src 'none'; img-src 'self'; style-src 'unsafe-inline'; "
           "script-src 'sha256-%s'" % _SCRIPT_HASH)

PAGE = """<!DOCTYPE html>
<html lang="zh">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="{policy}">
<title>{title}</title>
<style>{style}</style>
</head>
<body>
<header><h1>{title}</h1><span>{summary}</span>
<span><label><input type="checkbox" id="outlines" checked> outlines on the PDF</label></span>
<span>{legend}</span><span>click a mark, or press n / p</span></header>
<nav id="marks"><ol>
{marks}
</ol></nav>
<main id="text">
{text}
</main>
<section id="pdf">
{pages}
</section>
<script>{script}</script>
</body>
</html>
"""


# The most pixels one page image may have: an A4 page at the highest --dpi (1200) has 139
# million. MuPDF refuses an image of more than 2 GB (some 700 million pixels); a page that large
# at the --dpi asked is drawn at the resolution that keeps within this instead.
MAX_PAGE_IMAGE_PIXELS = 150_000_000


def image_dpi(page, dpi):
    """The resolution ``page``'s image is drawn at: ``dpi``, or less for a page so large that
    its image would have more than MAX_PAGE_IMAGE_PIXELS."""
    pixels = page.rect.width * page.rect.height * (dpi / 72) ** 2
    if pixels <= MAX_PAGE_IMAGE_PIXELS:
        return dpi
    # A whole number, as PyMuPDF takes it; MuPDF rounds the image's edges outward by a pixel.
    return max(math.floor(dpi * math.sqrt(MAX_PAGE_IMAGE_PIXELS / pixels) * 0.999), 1)


def page_images(fitz, pdf_bytes, dpi, marked_only=False, reduced=None):
    """(PyMuPDF page, PNG bytes, resolution) of every page of a PDF, or of those that carry an
    annotation; a page is valid until the next one is taken. A page drawn below ``dpi`` (see
    image_dpi) is appended to ``reduced`` as (page number from 1, resolution, width, height)."""
    doc = fitz.open("pdf", pdf_bytes)
    try:
        for page in doc:
            if marked_only and page.first_annot is None:
                continue
            page_dpi = image_dpi(page, dpi)
            if page_dpi < dpi and reduced is not None:
                reduced.append((page.number + 1, page_dpi, page.rect.width, page.rect.height))
            yield page, page.get_pixmap(dpi=page_dpi).tobytes("png"), page_dpi
    finally:
        doc.close()


def reduced_warning(option, dpi, reduced):
    """The warning about the pages ``option``'s images show below ``dpi`` (see page_images), or
    None."""
    if not reduced:
        return None
    number, _, width, height = max(reduced, key=lambda r: r[2] * r[3])
    lowest = min(r[1] for r in reduced)
    size = ("would be %d x %d pixels, more than the %d million a page image may have"
            % (round(width * dpi / 72), round(height * dpi / 72),
               MAX_PAGE_IMAGE_PIXELS // 1_000_000))
    hint = ("; --dpi %d or lower draws every page at one resolution" % lowest
            if lowest >= 10 else "")
    if len(reduced) == 1:
        return ("%s: page %d (%.0f x %.0f pt) is too large for an image at %d dpi: it %s; it is "
                "drawn at %d dpi instead%s" % (option, number, width, height, dpi, size, lowest,
                                               hint))
    return ("%s: pages %s are too large for images at %d dpi (the largest, page %d, %.0f x %.0f "
            "pt, %s); they are drawn at lower resolutions, down to %d dpi%s"
            % (option, page_ranges([r[0] for r in reduced]), dpi, number, width, height, size,
               lowest, hint))


def type_class(mark):
    return "t-%s" % mark["type"] if mark.get("type") in _TYPES else "t-other"


def _numbers(numbers):
    return " ".join(str(n) for n in numbers)


def _sections(converter):
    """(section id, HTML start, HTML end, PDF start, PDF end) of each section the HTML has; PDF
    positions count the PDF text without its newlines, as the alignment does."""
    pdf_start = 0
    for section, kind in SECTIONS:
        pdf_end = pdf_start + len(converter.pdfdoc.get_text([kind]).replace("\n", ""))
        record = converter.htmldoc.infodict.get(section)
        if record:
            yield section, record["start"], record["end"], pdf_start, pdf_end
        pdf_start = pdf_end


def _mismatches(a, b):
    """[start, end) runs of the positions where the equal-length strings ``a`` and ``b``
    differ, found by halving (string comparison stays in C even for long texts)."""
    if a == b:
        return []
    if len(a) == 1:
        return [[0, 1]]
    half = len(a) // 2
    runs = _mismatches(a[:half], b[:half])
    for start, end in _mismatches(a[half:], b[half:]):
        if runs and runs[-1][1] == start + half:
            runs[-1][1] = end + half
        else:
            runs.append([start + half, end + half])
    return runs


def _differences(difflist, html_text, pdf_text, html_span, pdf_span):
    """Where one section's HTML text differs from its PDF text, by the alignment: the HTML
    spans only in the HTML, and HTML position -> the PDF text that stands there instead.

    An alignment entry pairs HTML and PDF stretches of one length, character by character;
    characters it pairs may still differ (a substitution). Between entries, text is only on
    one side."""
    (hs, he), (ps, pe) = html_span, pdf_span
    pairs = sorted((a1, a2, b1, b2) for (a1, a2), (b1, b2) in difflist
                   if hs <= a1 <= a2 <= he and ps <= b1 <= b2 <= pe)
    html_only, pdf_only = [], defaultdict(str)
    a_at, b_at = hs, ps
    for a1, a2, b1, b2 in pairs + [(he, he, pe, pe)]:
        if a1 > a_at:
            html_only.append((a_at, a1))
        if b1 > b_at:
            pdf_only[max(a1, a_at)] += pdf_text[b_at:b1]
        if a2 - a1 == b2 - b1:
            for start, end in _mismatches(html_text[a1:a2], pdf_text[b1:b2]):
                html_only.append((a1 + start, a1 + end))
                pdf_only[a1 + end] += pdf_text[b1 + start:b1 + end]
        a_at, b_at = max(a_at, a2), max(b_at, b2)
    return html_only, pdf_only


def _section_html(text, span, marks, html_only, pdf_only, breaks):
    """The HTML of one section's text: each marked stretch a span naming its marks (innermost
    first), with a label where a mark starts; text only in the HTML flagged; text only in the
    PDF inserted; a new paragraph where an element of the HTML begins."""
    start, end = span
    starting, ending = defaultdict(list), defaultdict(list)
    cuts = {start, end} | set(pdf_only) | {b for b in breaks if start < b < end}
    for number, mark in enumerate(marks):
        first, last = max(mark["start"], start), min(mark["end"], end)
        if first < last:
            starting[first].append(number)
            ending[last].append(number)
            cuts.update((first, last))
    for stretch in html_only:
        cuts.update(stretch)
    positions = sorted(cuts)
    active = set()
    only = 0
    out = ["<p>"]
    for at, following in zip(positions, positions[1:] + [None]):
        if at in pdf_only:
            out.append('<ins title="only in the PDF">%s</ins>' % escape(pdf_only[at]))
        if following is None:
            break
        if at in breaks and at != start:
            out.append("</p>\n<p>")
        active.difference_update(ending[at])
        for number in starting[at]:
            active.add(number)
            mark = marks[number]
            if mark["start"] == at:
                out.append('<b class="lbl %s" data-m="%d">%s</b>'
                           % (type_class(mark), number, escape(mark["title"])))
        while only < len(html_only) and html_only[only][1] <= at:
            only += 1
        differs = only < len(html_only) and html_only[only][0] <= at
        piece = escape(text[at:following])
        if active:
            inner = sorted(active, key=lambda n: (-marks[n]["start"], marks[n]["end"], n))
            classes = ["m", type_class(marks[inner[0]])]
            classes += ["ov"] if len(inner) > 1 else []
            classes += ["x"] if differs else []
            out.append('<span class="%s" data-m="%s">%s</span>'
                       % (" ".join(classes), _numbers(inner), piece))
        elif differs:
            out.append('<span class="x">%s</span>' % piece)
        else:
            out.append(piece)
    out.append("</p>")
    return "".join(out)


def text_pane(converter, marks):
    """The HTML text of every section the HTML has, its marks and differences shown."""
    htmldoc = converter.htmldoc
    pdf_text = converter.pdfdoc.get_text().replace("\n", "")
    breaks = {record["start"] for record in htmldoc.infodict.values()}
    parts = []
    for section, hs, he, ps, pe in _sections(converter):
        html_only, pdf_only = _differences(converter.difflist, htmldoc.text, pdf_text,
                                           (hs, he), (ps, pe))
        parts.append('<h2>%s</h2>\n%s' % (escape(section), _section_html(
            htmldoc.text, (hs, he), marks, html_only, pdf_only, breaks)))
    return "\n".join(parts)


def _places(pdfdoc, pdflines, first_line):
    """"p. 3 l. 5-7, p. 4 l. 1-2": the pages and the lines on them that a mark covers;
    ``first_line`` maps each page to the index of its first PDF text line."""
    by_page = defaultdict(list)
    for line, _ in pdflines:
        page = pdfdoc.lines[line]["page"]
        by_page[page].append(line - first_line[page] + 1)
    return ", ".join("p. %d l. %s" % (page + 1, "%d\u2013%d" % (min(lines), max(lines))
                                      if len(lines) > 1 else lines[0])
                     for page, lines in sorted(by_page.items()))


def mark_list(pdfdoc, marks):
    first_line = {}
    for index, line in enumerate(pdfdoc.lines):
        first_line.setdefault(line["page"], index)
    return "\n".join(
        '<li class="%s" data-m="%d"><b>%d</b> %s <q>%s</q> %s<small>%s</small></li>'
        % (type_class(mark), number, number + 1, escape(mark["type"]), escape(mark["title"]),
           escape(mark["content"]), _places(pdfdoc, mark["pdflines"], first_line))
        for number, mark in enumerate(marks))


def _outline(fitz, page, number, mark, rect):
    """A mark's rectangle over its page image, in percent of the page, rotation applied."""
    box = fitz.Rect(rect[1:]) * page.rotation_matrix
    width, height = page.rect.width, page.rect.height
    return ('<i class="r %s" data-m="%d" title="%s" style="left:%.3f%%;top:%.3f%%;width:%.3f%%;'
            'height:%.3f%%"></i>' % (type_class(mark), number, escape(
                "%d %s %s: %s" % (number + 1, mark["type"], mark["title"], mark["content"])),
                100 * box.x0 / width, 100 * box.y0 / height, 100 * box.width / width,
                100 * box.height / height))


def review_files(converter, marks, pdf_bytes, dpi, title="Review", reduced=None):
    """Relative file name -> bytes of the review page of a patent: ``index.html`` and the image
    of every page of the marked PDF at ``dpi``. ``marks`` are the placed marks (with their
    "pdflines" and "rects"), ``pdf_bytes`` the marked PDF; ``reduced`` as for page_images."""
    import quorl

    fitz = quorl.fitz
    files = {}
    outlines = defaultdict(list)
    for number, mark in enumerate(marks):
        for rect in mark["rects"]:
            outlines[rect[0]].append((number, mark, rect))
    figures = []
    for page, png, page_dpi in page_images(fitz, pdf_bytes, dpi, reduced=reduced):
        name = PAGE_IMAGE % (page.number + 1)
        files[name] = png
        width, height = page.rect.width, page.rect.height
        figures.append(
            '<figure class="pg" id="pg%d" style="aspect-ratio:%.2f/%.2f"><img src="%s" '
            'loading="lazy" width="%d" height="%d" alt="page %d">%s<figcaption>%d / %d'
            '</figcaption></figure>'
            % (page.number + 1, width, height, name, round(width * page_dpi / 72),
               round(height * page_dpi / 72), page.number + 1,
               "".join(_outline(fitz, page, n, m, r) for n, m, r in outlines[page.number]),
               page.number + 1, page.parent.page_count))
    pages_marked = len(outlines)
    legend = " ".join('<b class="lbl t-%s">%s</b>' % (kind, kind)
                      for kind in MARK_TYPES + ("equal",))
    legend += ' <span class="x">only in the HTML</span> <ins>only in the PDF</ins>'
    files["index.html"] = PAGE.format(
        policy=_POLICY, title=escape(title), style=STYLE, script=SCRIPT, legend=legend,
        summary="%d marks on %d of %d pages" % (len(marks), pages_marked, len(figures)),
        marks=mark_list(converter.pdfdoc, marks), text=text_pane(converter, marks),
        pages="\n".join(figures)).encode("utf-8")
    return files
