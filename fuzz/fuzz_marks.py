"""Fuzzes mark records and the markers: keys missing or of the wrong type, odd kinds, info
strings with image-note geometry, and the annotation primitives with odd rectangles and
colours. The written PDF must open again."""

import json

import atheris
from common import EXAMPLES, consume_int, consume_text, main, seed_fields, tolerant

import pymupdf
import quorl

SAMPLE_HTML = (EXAMPLES / "sample.html").read_text(encoding="utf-8")
SAMPLE_PDF = (EXAMPLES / "sample.pdf").read_bytes()
SAMPLE_MARKS = json.loads((EXAMPLES / "sample-marks.json").read_text(encoding="utf-8"))
KINDS = ["par", "cth", "imgpar", "imgig", "flag", "equal", "PAR", "", "x"]
FIELDS = ["0.1", "0.5", "1", "0", "-1", "1e308", "nan", "inf", "", "a", "1/2", "999", "0.99999"]
MARKERS = ["Marker", "CTHMarker", "PARMarker", "ImgPARMarker", "ImgIGMarker", "FlagMarker"]

pymupdf.TOOLS.mupdf_display_errors(False)
pymupdf.TOOLS.mupdf_display_warnings(False)
state = {"runs": 0, "conv": None}


def converter():
    # Annotations pile up on the one document; a fresh one now and then keeps runs comparable.
    if state["conv"] is None or state["runs"] % 200 == 0:
        state["conv"] = tolerant(quorl.get_patent_converter, SAMPLE_HTML, SAMPLE_PDF)
    state["runs"] += 1
    return state["conv"]


def odd_value(fdp):
    return fdp.PickValueInList([None, 1.5, -1, 2**70, "", [], {}, (1,), b"x", "\ud800"])


def consume_info(fdp):
    parts = [fdp.PickValueInList(["imagenote", "EQUAL", "", "imagenote EQUAL"])]
    parts += [fdp.PickValueInList(FIELDS) for _ in range(fdp.ConsumeIntInRange(0, 5))]
    return "#".join(parts)


def consume_mark(fdp):
    base = dict(fdp.PickValueInList(SAMPLE_MARKS))
    base["type"] = fdp.PickValueInList(KINDS)
    base["title"] = consume_text(fdp, 6)
    base["content"] = consume_text(fdp, 12)
    base["info"] = consume_info(fdp)
    if fdp.ConsumeBool():
        base["start"] += consume_int(fdp)
        base["end"] += consume_int(fdp)
    for _ in range(fdp.ConsumeIntInRange(0, 2)):
        key = fdp.PickValueInList(["start", "end", "type", "title", "content", "info"])
        if fdp.ConsumeBool():
            base.pop(key, None)
        else:
            base[key] = odd_value(fdp)
    return base


def consume_rect(fdp):
    return pymupdf.Rect(*(fdp.ConsumeIntInRange(-100, 700) for _ in range(4)))


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    conv = converter()
    if conv is None:
        return
    real = seed_fields(data, 1)
    marks = tolerant(json.loads, real[0]) if real else None
    if not isinstance(marks, list):
        marks = [consume_mark(fdp) for _ in range(fdp.ConsumeIntInRange(1, 3))]
    out = tolerant(quorl.pdf_marker, conv, marks)
    if out is not None:
        pymupdf.open("pdf", out).close()

    # Markers and primitives directly, on a page of a document of their own.
    doc = pymupdf.open()
    for _ in range(2):
        doc.new_page()
    position = [(fdp.ConsumeIntInRange(-2, 2), consume_rect(fdp))
                for _ in range(fdp.ConsumeIntInRange(0, 2))]
    cls = getattr(quorl, fdp.PickValueInList(MARKERS))
    marker = tolerant(cls, consume_text(fdp, 4), consume_text(fdp, 8), position, consume_info(fdp))
    if marker is not None:
        tolerant(marker.setmarker, consume_info(fdp))
        tolerant(marker.getmarker)
        tolerant(str, marker)
        tolerant(marker.addmarker, doc)
    info = {"subject": "s", "title": consume_text(fdp, 4), "content": consume_text(fdp, 8)}
    page = doc[0]
    size = fdp.PickValueInList([9, 0, -1, 0.001, 1000, float("nan")])
    colour = fdp.PickValueInList([(1, 0, 0), (2, -1, 0), (0.5,), (), None])
    tolerant(quorl._add_num_mark, page, consume_rect(fdp), info, size, colour)
    tolerant(quorl._add_flag_mark, page, consume_rect(fdp), info, fcolor=colour)
    tolerant(quorl._add_highlight_mark, page, [consume_rect(fdp)], info)
    tolerant(doc.tobytes)
    doc.close()


if __name__ == "__main__":
    main(test_one_input, instrument=False)
