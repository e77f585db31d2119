"""Pages for a person to read: the diff view of each section. Every text that reaches a page
goes through ``escape`` (or through the diff view's own escaping in the quorl module)."""
import html

from ..vocabulary import SECTIONS


def escape(text):
    """Text made safe for HTML content and for quoted attribute values."""
    return html.escape(str(text), quote=True)


# Characters the view must not show raw, stood in for by single private-use characters while
# the texts are aligned, so that the alignment is the one of the texts themselves.
_SPECIAL = {"&": "&amp;", "<": "&lt;", ">": "&gt;"}


def escaped_view(quorl, html_text, pdf_text):
    """The diff view fragment of two texts, its count of aligned characters and both lengths."""
    used = set(html_text) | set(pdf_text)
    stand_ins = {}
    code = 0xE000
    for ch in _SPECIAL:
        while chr(code) in used:
            code += 1
        stand_ins[ch] = chr(code)
        code += 1
    table = str.maketrans(stand_ins)
    mapper = quorl.PositionMapper(html_text.translate(table), pdf_text.translate(table))
    # The section as the converter aligns it: realigned where a passage written twice captured
    # difflib's alignment.
    realigned = quorl._realigned_opcodes(mapper.a_text, mapper.b_text, mapper.spandiff)
    if realigned is not None:
        mapper.difflist = realigned
        mapper.spandiff = mapper.get_relation_format()
    view = mapper.getdiffviewtext()
    for ch, stand_in in stand_ins.items():
        view = view.replace(stand_in, _SPECIAL[ch])
    equal = sum(a2 - a1 for (a1, a2), _ in mapper.spandiff)
    return view, equal, len(mapper.a_text), len(mapper.b_text)


PAGE = """<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>{title}</title>
<style>body {{font-family: sans-serif; line-height: 1.8;}} .view {{white-space: pre-wrap;}}</style>
</head>
<body>
<h1>{title}</h1>
{body}
</body>
</html>
"""

LEGEND = ("<p>Text in both: plain. Only in the HTML: <span class=\"delete\">pink</span>; only in "
          "the PDF: <span class=\"insert\">green</span>; replaced: "
          "<span class=\"rdelete\">HTML</span><span class=\"rinsert\">PDF</span>.</p>")


def page(title, body):
    """A whole page: ``title`` is text, ``body`` HTML already escaped."""
    return PAGE.format(title=escape(title), body=body).encode("utf-8")


def diff_views(quorl, converter, html_name, pdf_name):
    """File name -> bytes of the diff view pages and their index."""
    pages = {}
    rows = []
    for section, kind in SECTIONS:
        if not converter.htmldoc.infodict.get(section):
            rows.append("<li>%s: not in the HTML</li>" % section)
            continue
        view, equal, html_len, pdf_len = escaped_view(
            quorl, converter.htmldoc.get_text(section), converter.pdfdoc.get_text([kind]))
        name = section + ".html"
        title = "%s (HTML) and %s (PDF)" % (section, kind)
        stats = ("<p>%d of %d HTML characters and %d PDF characters are aligned.</p>"
                 % (equal, html_len, pdf_len))
        pages[name] = page(title, stats + LEGEND + "<div class=\"view\">" + view + "</div>")
        rows.append("<li><a href=\"%s\">%s</a>: %d of %d characters aligned</li>"
                    % (name, escape(title), equal, html_len))
    body = "<p>%s and %s, section by section.</p>\n<ul>\n%s\n</ul>" % (
        escape(html_name), escape(pdf_name), "\n".join(rows))
    pages["index.html"] = page("Differences", body)
    return pages
