"""Many marks on one patent: drawn in one pass whose cost does not grow with the annotations
already on a page, into the same PDF PyMuPDF's own calls make, and a marks file beyond the limit
refused before any work."""
import json
import re

import pymupdf
import pytest

import quorl
from careless_use import command, patent_folder, refused
from quorl_mark.inputs import MAX_MARKS
from quorl_mark.vocabulary import marker_registry


def without_id(pdf):
    """The PDF bytes without the trailer's /ID, which differs from one write to the next."""
    return re.sub(rb"/ID\[.*?\]>>", b"/ID[]>>", pdf, flags=re.S)


def crowded_marks(count, start=400):
    """``count`` marks of every kind over the same few hundred characters."""
    kinds = ["cth", "par", "equal", "imgpar", "cth", "flag"]
    return [{"start": start + (i * 7) % 300, "end": start + (i * 7) % 300 + 20 + i % 50,
             "type": kinds[i % len(kinds)], "title": str(i % 40), "content": "mark %d" % i,
             **({"info": "EQUAL"} if i % 9 == 0 else {})} for i in range(count)]


@pytest.fixture(scope="module")
def crowded(tmp_path_factory):
    folder = tmp_path_factory.mktemp("many")
    patent, _ = patent_folder(folder)
    (folder / "many.json").write_text(json.dumps(crowded_marks(400)))
    return folder, patent


def names_by_page(pdf):
    doc = pymupdf.open("pdf", pdf)
    return [[annot.info["id"] for annot in page.annots()] for page in doc]


class TestManyMarks:
    def test_one_pass_writes_what_mark_by_mark_drawing_writes(self, crowded):
        # get_marked_file draws in one session (pages kept loaded, annotation names remembered,
        # a page's annotations put aside while it fills); make_mark on its own draws through
        # PyMuPDF as it comes. Over 64 annotations a page, both must write the same bytes.
        _, patent = crowded
        converter = quorl.get_patent_converter(patent.html, patent.pdf)
        marks = [converter.convert_mark_html2pdf(m) for m in crowded_marks(400)]

        def fresh():
            return quorl.PdfDocument(pymupdf.open("pdf", patent.pdf),
                                     markerdict=marker_registry(quorl))

        at_once = fresh().get_marked_file(marks)
        one_by_one = fresh()
        for mark in marks:
            one_by_one.make_mark(mark)
        assert without_id(at_once) == without_id(one_by_one.doc.write())
        names = names_by_page(at_once)
        assert max(map(len, names)) > 200
        for page in names:
            assert len(set(page)) == len(page)

    def test_the_command_draws_every_mark(self, crowded, tmp_path):
        folder, _ = crowded
        proc = command("quorl-mark", folder / "p.html", folder / "p.pdf", folder / "many.json",
                       "-o", tmp_path / "o.pdf", "--marks-out", tmp_path / "o.json")
        assert proc.returncode == 0, proc.stderr
        assert proc.stdout.decode().startswith("400 marks on ")
        placed = json.loads((tmp_path / "o.json").read_text())
        highlights = sum(len(m["rects"]) for m in placed
                         if m["type"] in ("cth", "par", "equal"))
        doc = pymupdf.open(tmp_path / "o.pdf")
        drawn = sum(1 for page in doc for a in page.annots() if a.type[1] == "Highlight")
        assert drawn == highlights > 400


class TestMarkLimit:
    @pytest.mark.parametrize("count, refusal", [
        (MAX_MARKS + 1, "holds {:,} marks, more than the {:,} a marks file may hold"
         .format(MAX_MARKS + 1, MAX_MARKS)),
        (MAX_MARKS, "mark {} (type 'cth', title '', start 0, end 0): the mark is empty"
         .format(MAX_MARKS)),
    ])
    def test_the_limit_is_checked_before_the_records(self, crowded, tmp_path, count, refusal):
        folder, _ = crowded
        # The last record is empty: at the limit it is checked (and refused), beyond it never.
        records = [{"start": 5, "end": 9, "type": "cth", "title": "", "content": ""}] * (count - 1)
        records.append({"start": 0, "end": 0, "type": "cth", "title": "", "content": ""})
        (tmp_path / "big.json").write_text(json.dumps(records))
        err = refused(tmp_path, "quorl-mark", folder / "p.html", folder / "p.pdf",
                      tmp_path / "big.json", "-o", tmp_path / "o.pdf")
        assert "big.json: " + refusal in err
        assert "holds at most {:,} marks".format(MAX_MARKS) in " ".join(
            command("quorl-mark", "--help").stdout.decode().split())
