"""The quorl-mark command: outputs checked against the module's own entry points and read back
with PyMuPDF and lxml; every failure a one-line message, a non-zero status and no output."""
import contextlib
import io
import json
import logging
import os
import pathlib
import re
import subprocess
import sys

import pymupdf
import pytest
from bs4 import BeautifulSoup

import patents
import quorl
from quorl_mark import outputs as output_files
from quorl_mark.commands import mark as cli
from quorl_mark.review import views
from quorl_mark.vocabulary import SECTIONS

SCRIPT = pathlib.Path(sys.executable).with_name("quorl-mark")


def quietly(function, *args):
    with contextlib.redirect_stdout(io.StringIO()):
        return function(*args)


def html_span(htmldoc, element_id, start=0, length=None):
    record = htmldoc.infodict[element_id]
    first = record["start"] + start
    return first, (record["end"] if length is None else first + length)


@pytest.fixture(scope="module")
def sample(tmp_path_factory):
    """A patent with a sequence listing (texts holding < and >) and marks of every kind."""
    patent = patents.generate_patent(11, sequences=2, figures=2, substitutions=2)
    folder = tmp_path_factory.mktemp("sample")
    (folder / "p.html").write_text(patent.html, encoding="utf-8")
    (folder / "p.pdf").write_bytes(patent.pdf)
    doc = quorl.HtmlDocument(patent.html, parserlist=[{"name": ["img", "div", "h2"]}])
    plan = [("par", "1", "", html_span(doc, "cl0001", 0, 20)),
            ("cth", "2", "", html_span(doc, "abstract", 3, 25)),
            ("equal", "3-4", "EQUAL", html_span(doc, "cl0002", 2, 12)),
            ("flag", "5", "", html_span(doc, "p0002", 0, 8)),
            ("imgpar", "6", "", html_span(doc, "fc0001")),
            ("imgig", "7", "imagenote#0,0,1000,1000$", html_span(doc, "fc0002")),
            ("par", "8", "", html_span(doc, "sq0001", 0, 30))]
    marks = []
    for kind, title, info, (start, end) in plan:
        mark = {"start": start, "end": end, "type": kind, "title": title, "content": "c" + title}
        if info:
            mark["info"] = info
        marks.append(mark)
    (folder / "marks.json").write_text(json.dumps(marks, ensure_ascii=False), encoding="utf-8")
    return folder, patent, marks


def run_main(argv, capsys):
    status = cli.main([str(a) for a in argv])
    out, err = capsys.readouterr()
    return status, out, err


def annotation_list(data):
    doc = pymupdf.open("pdf", data)
    out = [(page.number, a.type[1], a.info["subject"], a.info["content"], tuple(a.rect))
           for page in doc for a in page.annots()]
    doc.close()
    return out


@pytest.fixture(scope="module")
def outputs(sample, tmp_path_factory):
    """One run of the installed command asking for every output."""
    folder, _, _ = sample
    out = tmp_path_factory.mktemp("out")
    proc = subprocess.run(
        [str(SCRIPT), folder / "p.html", folder / "p.pdf", folder / "marks.json",
         "-o", out / "marked.pdf", "--marks-out", out / "marks-pdf.json",
         "--diff-view", out / "diff", "--preview", out / "preview", "--dpi", "50"],
        capture_output=True, text=True)
    return proc, out


class TestSuccess:
    def test_exit_status_and_clean_streams(self, outputs):
        proc, out = outputs
        assert proc.returncode == 0, proc.stderr
        assert proc.stderr == ""
        lines = proc.stdout.splitlines()
        assert re.fullmatch(r"7 marks on \d+ pages: " + re.escape(str(out / "marked.pdf")),
                            lines[0])
        assert lines[1:] == ["wrote %s" % (out / "marks-pdf.json")] + [
            "wrote %s" % (out / "diff" / name) for name in
            ["cn-bibliographic-info.html", "claims.html", "description.html", "drawings.html",
             "index.html"]] + ["wrote %s" % p for p in sorted((out / "preview").iterdir())]
        assert "markinfo" not in proc.stdout and "debug mapper info" not in proc.stdout

    def test_marked_pdf_matches_the_module(self, outputs, sample):
        _, out = outputs
        folder, patent, marks = sample
        converter = quietly(quorl.get_patent_converter, patent.html, patent.pdf)
        expected = quietly(quorl.pdf_marker, converter, [dict(m) for m in marks])
        assert annotation_list((out / "marked.pdf").read_bytes()) == annotation_list(expected)
        kinds = {a[2] for a in annotation_list(expected)}
        assert {"Highlight", "SingleNUM", "Duplicate", "IGseq"} <= kinds

    def test_marks_out_holds_the_pdf_lines(self, outputs, sample):
        _, out = outputs
        _, patent, marks = sample
        written = json.loads((out / "marks-pdf.json").read_text(encoding="utf-8"))
        converter = quietly(quorl.get_patent_converter, patent.html, patent.pdf)
        for record, mark in zip(written, marks):
            converted = converter.convert_mark_html2pdf(dict(mark))
            rects = record.pop("rects")
            assert record == dict(mark, pdflines=[[l, list(s)] for l, s in converted["pdflines"]])
            assert [r[0] for r in rects] == [converter.pdfdoc.lines[l]["page"]
                                             for l, _ in converted["pdflines"]]
        assert len(written) == len(marks)

    def test_diff_views_show_both_texts_exactly(self, outputs, sample):
        _, out = outputs
        _, patent, _ = sample
        converter = quietly(quorl.get_patent_converter, patent.html, patent.pdf)
        names = sorted(p.name for p in (out / "diff").iterdir())
        assert names == ["claims.html", "cn-bibliographic-info.html", "description.html",
                         "drawings.html", "index.html"]
        for section, kind in SECTIONS:
            page = BeautifulSoup((out / "diff" / (section + ".html")).read_bytes(), "lxml")
            view = page.find("div", class_="view")
            spans = view.find_all("span")
            html_side = "".join(s.get_text() for s in spans
                                if s["class"][0] in ("equal", "delete", "rdelete"))
            pdf_side = "".join(s.get_text() for s in spans
                               if s["class"][0] in ("equal", "insert", "rinsert"))
            assert html_side == converter.htmldoc.get_text(section)
            assert pdf_side == converter.pdfdoc.get_text([kind]).replace("\n", "")
        description = (out / "diff" / "description.html").read_text(encoding="utf-8")
        assert "&lt;210&gt;" in description
        index = BeautifulSoup((out / "diff" / "index.html").read_bytes(), "lxml")
        assert [a["href"] for a in index.find_all("a")] == [s + ".html" for s, _ in SECTIONS]

    def test_previews_are_the_marked_pages(self, outputs):
        _, out = outputs
        marked = pymupdf.open(out / "marked.pdf")
        expected = ["page-%03d.png" % (p.number + 1) for p in marked if p.first_annot]
        assert sorted(p.name for p in (out / "preview").iterdir()) == expected
        for name in expected:
            image = pymupdf.Pixmap(str(out / "preview" / name))
            page = marked[int(name[5:8]) - 1]
            for pixels, points in ((image.width, page.rect.width),
                                   (image.height, page.rect.height)):
                assert abs(pixels - points * 50 / 72) <= 1

    def test_no_temporary_files_remain(self, outputs):
        _, out = outputs
        leftovers = [p for p in out.rglob("*") if p.name.startswith(".")]
        assert leftovers == []


class TestInterface:
    def test_help_explains_the_command(self):
        proc = subprocess.run([str(SCRIPT), "--help"], capture_output=True, text=True)
        assert proc.returncode == 0
        for word in ["PATENT.html", "PATENT.pdf", "MARKS.json", "--marks-out", "--diff-view",
                     "--preview", "imgig", "EQUAL", "Exit status"]:
            assert word in proc.stdout

    def test_runs_as_a_module(self):
        proc = subprocess.run([sys.executable, "-m", "quorl_mark", "--help"],
                              capture_output=True, text=True)
        assert proc.returncode == 0 and proc.stdout.startswith("usage: quorl-mark")

    def test_wrong_arguments_exit_with_usage(self, capsys):
        with pytest.raises(SystemExit) as info:
            cli.main(["a.html", "b.pdf", "m.json"])
        assert info.value.code == 2
        assert "-o" in capsys.readouterr().err

    def test_verbose_shows_the_module_diagnostics_on_stderr(self, sample, tmp_path, capsys):
        folder, _, marks = sample
        status, out, err = run_main([folder / "p.html", folder / "p.pdf", folder / "marks.json",
                                     "-o", tmp_path / "o.pdf", "-v"], capsys)
        assert status == 0
        assert "debug mapper info:" in err and err.count("('markinfo:'") == len(marks)
        assert "quorl: WARNING: diff opcodes:" in err
        assert out.startswith("7 marks on ") and "markinfo" not in out

    def test_quiet_prints_nothing(self, sample, tmp_path, capsys):
        folder, _, _ = sample
        status, out, err = run_main([folder / "p.html", folder / "p.pdf", folder / "marks.json",
                                     "-o", tmp_path / "o.pdf", "-q"], capsys)
        assert (status, out, err) == (0, "", "")
        assert (tmp_path / "o.pdf").read_bytes().startswith(b"%PDF")

    def test_logging_and_stdout_are_restored(self, sample, tmp_path, capsys):
        folder, _, _ = sample
        root = logging.getLogger()
        before = (list(root.handlers), root.level, sys.stdout)
        run_main([folder / "p.html", folder / "p.pdf", folder / "marks.json",
                  "-o", tmp_path / "o.pdf"], capsys)
        assert (list(root.handlers), root.level, sys.stdout) == before

    def test_outputs_replace_existing_files(self, sample, tmp_path, capsys):
        folder, _, _ = sample
        target = tmp_path / "nested" / "o.pdf"
        target.parent.mkdir()
        target.write_bytes(b"old")
        os.chmod(target, 0o600)
        status, _, _ = run_main([folder / "p.html", folder / "p.pdf", folder / "marks.json",
                                 "-o", target], capsys)
        assert status == 0 and target.read_bytes().startswith(b"%PDF")
        assert target.stat().st_mode & 0o777 == 0o666 & ~output_files.current_umask()


class TestFailures:
    """Each failure: status 1, one line on stderr naming the culprit, nothing written."""

    @pytest.fixture
    def workspace(self, sample, tmp_path):
        folder, patent, marks = sample
        for name in ["p.html", "p.pdf", "marks.json"]:
            (tmp_path / name).write_bytes((folder / name).read_bytes())
        (tmp_path / "out.pdf").write_bytes(b"previous")
        return tmp_path, marks

    def fails(self, workspace, capsys, *extra, html="p.html", pdf="p.pdf", marks="marks.json"):
        folder, _ = workspace
        before = sorted(folder.iterdir())
        status, out, err = run_main(
            [folder / html, folder / pdf, folder / marks, "-o", folder / "out.pdf",
             "--marks-out", folder / "m.json", "--diff-view", folder / "diff",
             "--preview", folder / "prev", *extra], capsys)
        assert status == 1
        assert out == ""
        assert err.startswith("quorl-mark: error: ") and err.count("\n") == 1, err
        assert "Traceback" not in err
        assert (folder / "out.pdf").read_bytes() == b"previous"
        assert sorted(folder.iterdir()) == before
        return err

    def write_marks(self, workspace, marks):
        folder, _ = workspace
        (folder / "marks.json").write_text(json.dumps(marks), encoding="utf-8")

    @pytest.mark.parametrize("which", ["html", "pdf", "marks"])
    def test_missing_input(self, workspace, capsys, which):
        err = self.fails(workspace, capsys, **{which: "absent.file"})
        assert "absent.file: no such file" in err

    def test_input_is_a_directory(self, workspace, capsys):
        folder, _ = workspace
        (folder / "d").mkdir()
        assert "d: is a directory, not a file" in self.fails(workspace, capsys, html="d")

    def test_html_not_utf8(self, workspace, capsys):
        folder, _ = workspace
        (folder / "p.html").write_bytes(b"\xef\xbb\xbf<html>\xff\xfe</html>")
        assert "p.html: not UTF-8 text although it starts with that byte order mark" in \
            self.fails(workspace, capsys)

    def test_html_without_patent_sections(self, workspace, capsys):
        folder, _ = workspace
        (folder / "p.html").write_text("<html><body><p>hello</p></body></html>")
        err = self.fails(workspace, capsys)
        assert "p.html: not a patent's full text" in err

    def test_not_a_pdf(self, workspace, capsys):
        folder, _ = workspace
        (folder / "p.pdf").write_bytes(b"just some bytes")
        assert "p.pdf: not a PDF file" in self.fails(workspace, capsys)

    def test_not_a_patent_pdf(self, workspace, capsys):
        folder, _ = workspace
        doc = pymupdf.open()
        doc.new_page().insert_text((72, 72), "hello")
        (folder / "p.pdf").write_bytes(doc.tobytes())
        assert "p.pdf: not a patent publication laid out as expected" in self.fails(
            workspace, capsys)

    def test_pdf_without_pages_is_rejected(self, workspace, capsys, monkeypatch):
        class Empty:
            page_count = 0
            needs_pass = False

        class Fitz:
            @staticmethod
            def open(*args):
                return Empty()

        monkeypatch.setattr(quorl, "fitz", Fitz)
        assert "p.pdf: the PDF has no pages" in self.fails(workspace, capsys)

    def test_encrypted_pdf(self, workspace, capsys, sample):
        folder, _ = workspace
        _, patent, _ = sample
        doc = pymupdf.open("pdf", patent.pdf)
        data = doc.tobytes(encryption=pymupdf.PDF_ENCRYPT_AES_256, owner_pw="o", user_pw="u")
        (folder / "p.pdf").write_bytes(data)
        assert "p.pdf: the PDF is encrypted" in self.fails(workspace, capsys)

    def test_malformed_json(self, workspace, capsys):
        folder, _ = workspace
        (folder / "marks.json").write_text('[{"start": 1,,}]')
        err = self.fails(workspace, capsys)
        assert "marks.json: malformed JSON" in err and "line 1, column" in err

    def test_json_not_a_list(self, workspace, capsys):
        self.write_marks(workspace, {"start": 1})
        assert "expected a JSON list of mark records, found dict" in self.fails(workspace, capsys)

    @pytest.mark.parametrize("change, reason", [
        ({"start": None}, "start must be an integer, not null"),
        ({"end": 2.5}, "end must be an integer, not 2.5"),
        ({"start": True}, "start must be an integer, not true"),
        ({"start": -1}, "start must not be negative"),
        ({"start": 50, "end": 40}, "start is after end"),
        ({"start": 50, "end": 50}, "the mark is empty (start equals end)"),
        ({"type": "circle"}, "type must be one of par, cth, imgpar, imgig, flag or equal"),
        ({"title": [1]}, "title must be a string or a number"),
        ({"content": 3}, "content must be a string"),
        ({"info": 3}, "info must be a string"),
    ])
    def test_invalid_mark_names_it(self, workspace, capsys, change, reason):
        _, marks = workspace
        bad = [dict(m) for m in marks]
        bad[2] = dict(bad[2], **change)
        self.write_marks(workspace, bad)
        err = self.fails(workspace, capsys)
        assert "marks.json: mark 3" in err and err.rstrip().endswith(reason)

    def test_mark_missing_a_key(self, workspace, capsys):
        _, marks = workspace
        bad = [dict(m) for m in marks]
        del bad[0]["content"]
        self.write_marks(workspace, bad)
        assert "mark 1 (type 'par', title '1'" in self.fails(workspace, capsys)

    def test_mark_not_an_object(self, workspace, capsys):
        self.write_marks(workspace, [[1, 2]])
        assert "mark 1: not a JSON object but list" in self.fails(workspace, capsys)

    def test_unaligned_mark_cannot_be_placed(self, workspace, capsys, sample):
        _, marks = workspace
        _, patent, _ = sample
        # The publication number heading stands outside every aligned section.
        self.write_marks(workspace, marks[:3] + [dict(marks[0], start=0, end=5)])
        err = self.fails(workspace, capsys)
        assert "mark 4 (type 'par', title '1', start 0, end 5) cannot be placed" in err
        assert err.rstrip().endswith("no part of it is aligned with the PDF text; "
                                     "--skip-unplaced leaves such marks out and draws the others")

    def test_skip_unplaced_draws_the_others_and_keeps_the_reason(self, workspace, capsys):
        folder, marks = workspace
        unplaced = [dict(marks[0], start=0, end=5), dict(marks[1], start=10**6, end=10**6 + 5)]
        self.write_marks(workspace, marks[:3] + unplaced)
        status, out, err = run_main([folder / "p.html", folder / "p.pdf", folder / "marks.json",
                                     "-o", folder / "out.pdf", "--marks-out", folder / "m.json",
                                     "--skip-unplaced"], capsys)
        assert status == 0 and out.startswith("3 marks on ") and "(2 left out)" in out
        warnings = err.splitlines()
        assert len(warnings) == 2 and all(w.startswith("quorl-mark: warning: ") for w in warnings)
        assert "mark 4 (type 'par', title '1', start 0, end 5) cannot be placed" in warnings[0]
        assert "mark 5" in warnings[1] and "ends beyond the HTML text" in warnings[1]
        written = json.loads((folder / "m.json").read_text(encoding="utf-8"))
        assert [bool(m["rects"]) for m in written] == [True] * 3 + [False] * 2
        assert [m.get("reason") for m in written[3:]] == [
            "no part of it is aligned with the PDF text",
            "it ends beyond the HTML text, which has %d characters"
            % len(quorl.HtmlDocument((folder / "p.html").read_text(encoding="utf-8")).text)]
        assert all(m["pdflines"] == [] for m in written[3:])
        self.write_marks(workspace, marks[:3])
        assert run_main([folder / "p.html", folder / "p.pdf", folder / "marks.json",
                         "-o", folder / "placed.pdf"], capsys)[0] == 0
        assert annotation_list((folder / "out.pdf").read_bytes()) == \
            annotation_list((folder / "placed.pdf").read_bytes())

    def test_mark_beyond_the_text(self, workspace, capsys):
        _, marks = workspace
        self.write_marks(workspace, [dict(marks[0], start=10**6, end=10**6 + 5)])
        assert "ends beyond the HTML text" in self.fails(workspace, capsys)

    def test_drawing_failure_names_the_mark(self, workspace, capsys, monkeypatch):
        _, marks = workspace

        def broken(self, pdfdoc):
            raise ValueError("bad\nrectangle")

        monkeypatch.setattr(quorl.CTHMarker, "addmarker", broken)
        err = self.fails(workspace, capsys)
        assert "mark 2 (type 'cth', title '2'" in err
        assert err.rstrip().endswith("cannot be drawn: ValueError: bad rectangle")

    def test_write_failure_leaves_no_partial_file(self, workspace, capsys, monkeypatch):
        def refuse(src, dst):
            raise PermissionError(13, "Permission denied")

        monkeypatch.setattr(os, "replace", refuse)
        folder, _ = workspace
        status, out, err = run_main([folder / "p.html", folder / "p.pdf", folder / "marks.json",
                                     "-o", folder / "out.pdf"], capsys)
        assert status == 1 and out == ""
        assert err == "quorl-mark: error: %s: cannot write it: Permission denied\n" % (
            folder / "out.pdf")
        assert (folder / "out.pdf").read_bytes() == b"previous"
        assert not [p for p in folder.iterdir() if p.name.startswith(".")]

    def test_output_is_a_directory(self, workspace, capsys):
        folder, _ = workspace
        (folder / "d").mkdir()
        status, _, err = run_main([folder / "p.html", folder / "p.pdf", folder / "marks.json",
                                   "-o", folder / "d"], capsys)
        assert status == 1 and "-o %s: is a directory" % (folder / "d") in err

    def test_output_folder_is_a_file(self, workspace, capsys):
        folder, _ = workspace
        status, _, err = run_main([folder / "p.html", folder / "p.pdf", folder / "marks.json",
                                   "-o", folder / "x.pdf", "--preview", folder / "p.pdf"], capsys)
        assert status == 1 and "exists and is not a directory" in err

    def test_marks_out_must_differ_from_the_pdf(self, workspace, capsys):
        folder, _ = workspace
        status, _, err = run_main([folder / "p.html", folder / "p.pdf", folder / "marks.json",
                                   "-o", folder / "out.pdf", "--marks-out", folder / "out.pdf"],
                                  capsys)
        assert status == 1 and err.rstrip().endswith("the same file as -o")
        assert (folder / "out.pdf").read_bytes() == b"previous"

    def test_dpi_range(self, workspace, capsys):
        folder, _ = workspace
        with pytest.raises(SystemExit) as exit:
            run_main([folder / "p.html", folder / "p.pdf", folder / "marks.json", "-o",
                      folder / "out.pdf", "--dpi", "5"], capsys)
        assert exit.value.code == 2
        assert "argument --dpi: 5 is outside 10 to 1200" in capsys.readouterr().err

    def test_unexpected_failure_is_one_line(self, workspace, capsys, monkeypatch):
        def explode(*args, **kwargs):
            raise RuntimeError("something\ninside")

        monkeypatch.setattr(views, "diff_views", explode)
        err = self.fails(workspace, capsys)
        assert err == "quorl-mark: error: unexpected failure: RuntimeError: something inside\n"
