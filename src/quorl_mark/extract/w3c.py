"""Mark records as W3C Web Annotation Data Model JSON: one AnnotationCollection whose first page
holds one Annotation per record.

A record with a span targets the patent's HTML as web annotation clients select text: a
TextPositionSelector in code points of ``document.body.textContent`` of the page as a browser
parses it, and a TextQuoteSelector with that text's stretch and 32 characters of it on either
side (as Hypothesis writes them). quorl's own offsets, in its document text, stay in the target
under "quorl:span", so that the records come back exactly; the info hint is "quorl:info". A
record without a span targets its page of the annotated PDF.
"""
import uuid

from ..anchoring import TextMap, body_text
from ..anchoring.web_annotations import CONTEXT_TERM, INFO_TERM, SPAN_TERM

CONTEXT = ["http://www.w3.org/ns/anno.jsonld", CONTEXT_TERM]
QUOTE_CONTEXT = 32
# Fragment identifiers of PDF files (page=N counts from 1).
PDF_FRAGMENTS = "http://tools.ietf.org/rfc/rfc3778"


def _body(value, purpose):
    return {"type": "TextualBody", "value": value, "purpose": purpose, "format": "text/plain"}


def _quote(text, start, end):
    return {"type": "TextQuoteSelector", "exact": text[start:end],
            "prefix": text[max(0, start - QUOTE_CONTEXT):start],
            "suffix": text[end:end + QUOTE_CONTEXT]}


def _target(record, text_map, html_source):
    start, end = record["start"], record["end"]
    span = text_map.span(start, end)
    if span is None:  # text the page does not show in its body (its <title>)
        selectors = [_quote(text_map.document, start, end)]
    else:
        selectors = [{"type": "TextPositionSelector", "start": span[0], "end": span[1]},
                     _quote(text_map.browser, *span)]
    return {"source": html_source, "selector": selectors,
            SPAN_TERM: {"start": start, "end": end}}


def web_annotation(index, record, text_map, html_source, pdf_source):
    """One record as a Web Annotation; ``index`` makes its id, stable for the same PDF;
    ``text_map`` relates the document text to the browser's (anchoring.TextMap)."""
    bodies = []
    if record.get("content"):
        bodies.append(_body(record["content"], "commenting"))
    bodies.append(_body(record["type"], "tagging"))
    if record.get("title"):
        bodies.append(_body(str(record["title"]), "identifying"))
    if record.get("reason"):
        bodies.append(_body(record["reason"], "describing"))
    if record["start"] is not None:
        target = _target(record, text_map, html_source)
    else:
        target = {"source": pdf_source,
                  "selector": {"type": "FragmentSelector", "conformsTo": PDF_FRAGMENTS,
                               "value": "page=%d" % (record["page"] + 1)}}
    annotation = {
        "id": "urn:uuid:%s" % uuid.uuid5(uuid.NAMESPACE_URL, "%s#%d" % (pdf_source, index)),
        "type": "Annotation",
        "motivation": "commenting" if record.get("note") else "highlighting",
        "body": bodies,
        "target": target,
    }
    if record.get("author"):
        annotation["creator"] = {"type": "Person", "name": record["author"]}
    if record.get("info"):
        annotation[INFO_TERM] = record["info"]
    return annotation


def annotation_collection(records, document_text, html, html_source, pdf_source):
    """The records as one AnnotationCollection; ``html`` is the HTML page whose document text
    the records' offsets count, the sources are IRIs of the HTML and the PDF."""
    text_map = TextMap(document_text, body_text(html))
    items = [web_annotation(i, record, text_map, html_source, pdf_source)
             for i, record in enumerate(records)]
    return {
        "@context": CONTEXT,
        "id": "urn:uuid:%s" % uuid.uuid5(uuid.NAMESPACE_URL, pdf_source),
        "type": "AnnotationCollection",
        "label": "The annotations of %s. Text positions count the code points of "
                 "document.body.textContent of %s; quorl:span holds quorl's own offsets."
                 % (pdf_source, html_source),
        "total": len(items),
        "first": {"type": "AnnotationPage", "startIndex": 0, "items": items},
    }
