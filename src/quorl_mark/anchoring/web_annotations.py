"""W3C Web Annotations read as mark records.

An Annotation, a list of them, an AnnotationPage or an AnnotationCollection (its embedded
pages) becomes one record per annotation. Its bodies give the record's fields (mark_of);
its target's TextPositionSelector and TextQuoteSelector, at the top, in a refinement, or as
the ends of a RangeSelector of positions, are kept with the record (AnnotationMark.target) for
phrases.anchor_target once the document text is known.
"""
from ..errors import JobError
from ..vocabulary import ALIASES, MARK_TYPES

# The extension terms of quorl's own export: the span of quorl's document text and the info
# hint, under the prefix CONTEXT_TERM names.
NAMESPACE = "urn:quorl:"
CONTEXT_TERM = {"quorl": NAMESPACE}
SPAN_TERM, INFO_TERM = "quorl:span", "quorl:info"

class AnnotationMark(dict):
    """A mark record read from an annotation; ``target`` holds its selectors: "position"
    (start, end) in the browser's text, "exact", "prefix", "suffix", and "quorl" (start, end)
    of quorl's own export, or None and ``reason`` says why it selects no text. ``name`` says
    which annotation it is, for messages."""
    target = reason = None
    name = ""


def _types(node):
    kinds = node.get("type", node.get("@type")) if isinstance(node, dict) else None
    kinds = kinds if isinstance(kinds, list) else [kinds]
    return {k.split(":")[-1] for k in kinds if isinstance(k, str)}


def is_web_annotation(data):
    """Whether parsed JSON is W3C annotation data rather than a list of mark records."""
    items = data if isinstance(data, list) else [data]
    return any(_types(item) & {"Annotation", "AnnotationPage", "AnnotationCollection"}
               for item in items)


def _annotations(data, path):
    if isinstance(data, list):
        for item in data:
            yield from _annotations(item, path)
        return
    kinds = _types(data)
    if "Annotation" in kinds:
        yield data
    elif "AnnotationCollection" in kinds:
        first = data.get("first")
        if first is None:
            return
        if not isinstance(first, dict):
            raise JobError(path, "read", "the AnnotationCollection's first page %r is not in the "
                           "file; give the pages' annotations themselves" % (first,))
        yield from _annotations(first, path)
    elif "AnnotationPage" in kinds:
        yield from _annotations(data.get("items", []), path)
        following = data.get("next")
        if isinstance(following, dict):
            yield from _annotations(following, path)
    else:
        raise JobError(path, "read", "holds %s where an Annotation is expected"
                       % (repr(sorted(kinds)) if kinds - {None} else "an item without a type"))


def _selectors(selector):
    """Every selector of a selector value: lists, refinements and a RangeSelector's ends."""
    for item in selector if isinstance(selector, list) else [selector]:
        if not isinstance(item, dict):
            continue
        yield item
        for key in ("refinedBy", "startSelector", "endSelector"):
            if key in item:
                yield from _selectors(item[key])


def _whole(value):
    return isinstance(value, int) and not isinstance(value, bool) and value >= 0


def _target_of(annotation):
    """The selectors of the annotation's first target that selects text, or a reason."""
    targets = annotation.get("target")
    targets = targets if isinstance(targets, list) else [targets]
    reason = "its target selects no text (no TextQuoteSelector or TextPositionSelector)"
    for target in targets:
        if not isinstance(target, dict):
            continue
        found = {}
        if _whole((target.get(SPAN_TERM) or {}).get("start")) and _whole(
                target[SPAN_TERM].get("end")):
            found["quorl"] = (target[SPAN_TERM]["start"], target[SPAN_TERM]["end"])
        for item in _selectors(target.get("selector")):
            kind = _types(item)
            if "TextQuoteSelector" in kind and "exact" not in found and isinstance(
                    item.get("exact"), str) and item["exact"]:
                found.update(exact=item["exact"], prefix=item.get("prefix") or "",
                             suffix=item.get("suffix") or "")
            elif "TextPositionSelector" in kind and "position" not in found and _whole(
                    item.get("start")) and _whole(item.get("end")) and item["start"] < item["end"]:
                found["position"] = (item["start"], item["end"])
            elif "RangeSelector" in kind and "position" not in found:
                ends = [item.get(k) for k in ("startSelector", "endSelector")]
                if all(isinstance(e, dict) and "TextPositionSelector" in _types(e)
                       and _whole(e.get("start")) for e in ends) and ends[0]["start"] < ends[1][
                           "start"]:
                    found["position"] = (ends[0]["start"], ends[1]["start"])
            elif "FragmentSelector" in kind and str(item.get("value", "")).startswith("page="):
                reason = "its target is %s of the PDF, not a stretch of the HTML's text" % item[
                    "value"].replace("=", " ")
        if found:
            return found, None
    return None, reason


def _bodies(annotation):
    bodies = annotation.get("body", [])
    bodies = bodies if isinstance(bodies, list) else [bodies]
    if isinstance(annotation.get("bodyValue"), str):
        bodies.append({"value": annotation["bodyValue"]})
    return [b for b in bodies if isinstance(b, dict) and isinstance(b.get("value"), str)]


def mark_of(annotation, number):
    """The mark record of one annotation (``number`` from 1), its target not yet anchored."""
    mark = AnnotationMark(type="cth", title="", content="")
    for body in _bodies(annotation):
        purposes = body.get("purpose", annotation.get("motivation"))
        purposes = set(purposes if isinstance(purposes, list) else [purposes])
        value = body["value"]
        if "tagging" in purposes and (value in MARK_TYPES or value in ALIASES):
            mark["type"] = value
        elif "identifying" in purposes:
            mark["title"] = value
        elif purposes & {"commenting", None, "highlighting"} and not mark["content"]:
            mark["content"] = value
    if isinstance(annotation.get(INFO_TERM), str):
        mark["info"] = annotation[INFO_TERM]
    if isinstance(annotation.get("id"), str):
        mark["annotation"] = annotation["id"]
    mark.name = "annotation %d%s" % (number, " (%s)" % annotation["id"]
                                     if isinstance(annotation.get("id"), str) else "")
    mark.target, mark.reason = _target_of(annotation)
    return mark


def marks_of(data, path):
    """The mark records of parsed W3C annotation JSON."""
    return [mark_of(annotation, n) for n, annotation in enumerate(_annotations(data, path), 1)]
