"""Mark records as W3C Web Annotation Data Model JSON: one AnnotationCollection whose first page
holds one Annotation per record.

A record with a span targets the patent's HTML through two selectors: a TextPositionSelector in
code points of quorl's document text (the HTML's text content with its newline characters
removed, as the collection's label says), and a TextQuoteSelector with the span's text and 32
characters on either side, which keeps the annotation usable by tools that see the text
differently. A record without a span targets its page of the annotated PDF.
"""
import uuid

CONTEXT = "http://www.w3.org/ns/anno.jsonld"
QUOTE_CONTEXT = 32
# Fragment identifiers of PDF files (page=N counts from 1).
PDF_FRAGMENTS = "http://tools.ietf.org/rfc/rfc3778"


def _body(value, purpose):
    return {"type": "TextualBody", "value": value, "purpose": purpose, "format": "text/plain"}


def _selectors(record, document_text):
    start, end = record["start"], record["end"]
    return [
        {"type": "TextPositionSelector", "start": start, "end": end},
        {"type": "TextQuoteSelector", "exact": document_text[start:end],
         "prefix": document_text[max(0, start - QUOTE_CONTEXT):start],
         "suffix": document_text[end:end + QUOTE_CONTEXT]},
    ]


def web_annotation(index, record, document_text, html_source, pdf_source):
    """One record as a Web Annotation; ``index`` makes its id, stable for the same PDF."""
    bodies = []
    if record.get("content"):
        bodies.append(_body(record["content"], "commenting"))
    bodies.append(_body(record["type"], "tagging"))
    if record.get("title"):
        bodies.append(_body(str(record["title"]), "identifying"))
    if record.get("reason"):
        bodies.append(_body(record["reason"], "describing"))
    if record["start"] is not None:
        target = {"source": html_source, "selector": _selectors(record, document_text)}
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
    return annotation


def annotation_collection(records, document_text, html_source, pdf_source):
    """The records as one AnnotationCollection; the sources are IRIs of the HTML and the PDF."""
    items = [web_annotation(i, record, document_text, html_source, pdf_source)
             for i, record in enumerate(records)]
    return {
        "@context": CONTEXT,
        "id": "urn:uuid:%s" % uuid.uuid5(uuid.NAMESPACE_URL, pdf_source),
        "type": "AnnotationCollection",
        "label": "The annotations of %s. Text positions count the code points of the text "
                 "content of %s with its newline characters removed." % (pdf_source,
                                                                          html_source),
        "total": len(items),
        "first": {"type": "AnnotationPage", "startIndex": 0, "items": items},
    }
