"""quorl-mark run as a user runs it, carelessly: outputs over inputs or special files, failures
half way, inputs that do not belong together, damaged or misordered inputs, other encodings.
Each case either refuses with nothing changed or succeeds correctly."""
import json
import os
import stat
import subprocess
import sys

import pymupdf
import pytest

import patents
import quorl
from quorl_mark import job, outputs
from quorl_mark.errors import JobError

BIN = os.path.dirname(sys.executable)


def command(*args, name="quorl-mark"):
    return subprocess.run([os.path.join(BIN, name), *map(str, args)], capture_output=True)


def snapshot(folder):
    """Every entry of the folder with its kind and content, to compare before and after."""
    out = {}
    for entry in sorted(os.listdir(folder)):
        path = os.path.join(folder, entry)
        mode = os.lstat(path).st_mode
        content = None
        if stat.S_ISREG(mode):
            with open(path, "rb") as f:
                content = f.read()
        elif stat.S_ISLNK(mode):
            content = os.readlink(path)
        out[entry] = (stat.S_IFMT(mode), content)
    return out


@pytest.fixture(scope="module")
def patent():
    return patents.generate_patent(3, figures=1)


@pytest.fixture
def work(patent, tmp_path):
    doc = quorl.HtmlDocument(patent.html, parserlist=[{"name": ["img", "div", "h2"]}])
    claim = doc.infodict["cl0001"]
    para = doc.infodict["p0002"]
    marks = [{"start": claim["start"], "end": claim["start"] + 30, "type": "par", "title": "1",
              "content": "c1"},
             {"start": para["start"], "end": para["start"] + 9, "type": "flag", "title": "2",
              "content": "c2"}]
    (tmp_path / "p.html").write_text(patent.html, encoding="utf-8")
    (tmp_path / "p.pdf").write_bytes(patent.pdf)
    (tmp_path / "m.json").write_text(json.dumps(marks), encoding="utf-8")
    return tmp_path


def refused(folder, *args, contains):
    before = snapshot(folder)
    proc = command(*args)
    err = proc.stderr.decode()
    assert proc.returncode == 1 and err.count("\n") == 1, err
    for text in contains:
        assert text in err
    assert snapshot(folder) == before
    return err


def inputs(work):
    return work / "p.html", work / "p.pdf", work / "m.json"


class TestOutputs:
    @pytest.mark.parametrize("option,victim", [("-o", "p.html"), ("-o", "p.pdf"),
                                               ("--marks-out", "m.json")])
    def test_an_input_is_never_overwritten(self, work, option, victim):
        extra = ["-o", work / "o.pdf"] if option != "-o" else []
        refused(work, *inputs(work), *extra, option, work / victim,
                contains=[str(work / victim), "the same file as the input"])

    def test_an_input_reached_through_a_link_is_never_overwritten(self, work):
        os.symlink(work / "p.pdf", work / "alias.pdf")
        refused(work, *inputs(work), "-o", work / "alias.pdf", contains=["PATENT.pdf"])

    @pytest.mark.parametrize("make,kind", [(lambda p: os.mknod(p, 0o600 | stat.S_IFCHR,
                                                               os.makedev(1, 3)),
                                            "a character device"),
                                           (os.mkfifo, "a FIFO")])
    def test_special_files_are_refused(self, work, make, kind):
        make(work / "special")
        refused(work, *inputs(work), "-o", work / "special", contains=[kind])

    def test_a_symlink_is_written_through_to_its_target(self, work):
        os.symlink("real.pdf", work / "link.pdf")
        proc = command(*inputs(work), "-o", work / "link.pdf")
        assert proc.returncode == 0, proc.stderr
        assert os.readlink(work / "link.pdf") == "real.pdf"
        assert (work / "real.pdf").read_bytes().startswith(b"%PDF")

    def test_an_unwritable_folder_is_reported_before_any_work(self, work):
        (work / "k.pdf").write_text("OLD")
        (work / "afile").write_text("x")
        refused(work, *inputs(work), "-o", work / "k.pdf", "--marks-out", work / "k.json",
                "--preview", work / "afile" / "prev", contains=["--preview"])

    @pytest.mark.parametrize("failure", [PermissionError(13, "Permission denied"),
                                         KeyboardInterrupt()])
    def test_a_failed_rename_puts_everything_back(self, tmp_path, monkeypatch, failure):
        (tmp_path / "a").write_text("old a")
        (tmp_path / "b").write_text("old b")
        before = snapshot(tmp_path)
        real_replace = os.replace
        calls = []

        def replace(src, dst):
            calls.append(dst)
            if len(calls) == 3:  # the first two outputs are in place, the third fails
                raise failure
            real_replace(src, dst)

        monkeypatch.setattr(os, "replace", replace)
        with pytest.raises((JobError, KeyboardInterrupt)):
            with outputs.Outputs() as out:
                for name in ("a", "new/c", "b"):
                    out.stage(str(tmp_path / name), b"new " + name.encode())
                out.commit()
        assert snapshot(tmp_path) == before

    def test_pdf_to_standard_output_and_messages_to_standard_error(self, work, patent):
        proc = command(*inputs(work), "-o", "-", "--marks-out", work / "k.json")
        assert proc.returncode == 0
        assert pymupdf.open("pdf", proc.stdout).page_count == pymupdf.open(
            "pdf", patent.pdf).page_count
        assert b"2 marks on" in proc.stderr and b"wrote" in proc.stderr

    def test_rects_are_the_text_not_the_labels(self, work, patent):
        assert command(*inputs(work), "-o", work / "o.pdf", "--marks-out",
                       work / "k.json").returncode == 0
        records = json.loads((work / "k.json").read_text())
        doc = pymupdf.open("pdf", patent.pdf)
        for record in records:
            for page, *box in record["rects"]:
                words = doc[page].get_text("text", clip=pymupdf.Rect(box)).strip()
                assert words and box[2] < 500 + 1  # the flag's own box starts at 500
        flag = records[1]
        assert len(flag["rects"]) == len(flag["pdflines"])


class TestInputs:
    def test_different_publications_are_refused_unless_allowed(self, work):
        (work / "other.pdf").write_bytes(patents.generate_patent(4, figures=1).pdf)
        html, _, marks = inputs(work)
        refused(work, html, work / "other.pdf", marks, "-o", work / "o.pdf",
                contains=["publication numbers differ"])
        proc = command(html, work / "other.pdf", marks, "-o", work / "o.pdf",
                       "--allow-mismatch")
        assert proc.returncode == 0 and b"warning" in proc.stderr

    def test_same_number_but_other_text_is_refused(self, work, patent):
        other = patents.generate_patent(4, figures=1)
        number = other.html.split('"publication-number">')[1].split("<")[0]
        pubno = patent.html.split('"publication-number">')[1].split("<")[0]
        (work / "p.html").write_text(other.html.replace(number, pubno), encoding="utf-8")
        refused(work, *inputs(work), "-o", work / "o.pdf", contains=["of their text aligns"])

    def test_a_truncated_pdf_is_damaged_not_a_mark_problem(self, work, patent):
        (work / "p.pdf").write_bytes(patent.pdf[:2000])
        err = refused(work, *inputs(work), "-o", work / "o.pdf", contains=["damaged"])
        assert str(work / "p.pdf") in err and "mark 1" not in err

    def test_arguments_in_the_wrong_order(self, work):
        html, pdf, marks = inputs(work)
        refused(work, pdf, html, marks, "-o", work / "o.pdf",
                contains=["a PDF file, given where the patent's HTML is expected",
                          "PATENT.html PATENT.pdf MARKS.json"])

    @pytest.mark.parametrize("encode", [
        lambda h: h.replace('charset="utf-8"', 'charset="gbk"').encode("gb18030"),
        lambda h: h.replace('<meta charset="utf-8">', "").encode("gb18030"),
        lambda h: h.replace('charset="utf-8"', 'charset="gb2312"').encode("utf-8"),
        lambda h: h.encode("utf-16")])
    def test_html_in_other_encodings_marks_alike(self, work, patent, encode):
        html, pdf, marks = inputs(work)
        assert command(html, pdf, marks, "-o", work / "a.pdf", "--marks-out",
                       work / "a.json").returncode == 0
        html.write_bytes(encode(patent.html))
        proc = command(html, pdf, marks, "-o", work / "b.pdf", "--marks-out", work / "b.json")
        assert proc.returncode == 0, proc.stderr
        assert (work / "a.json").read_bytes() == (work / "b.json").read_bytes()

    def test_marking_a_marked_pdf_warns(self, work):
        html, _, marks = inputs(work)
        assert command(*inputs(work), "-o", work / "once.pdf").returncode == 0
        proc = command(html, work / "once.pdf", marks, "-o", work / "twice.pdf")
        assert proc.returncode == 0 and b"drawn a second time" in proc.stderr


def test_quorl_text_gives_the_text_marks_count_in(work, patent):
    proc = command(work / "p.html", "--json", name="quorl-text")
    shown = json.loads(proc.stdout)
    doc = quorl.HtmlDocument(patent.html, parserlist=[{"name": ["img", "div", "h2"]}])
    assert shown["text"] == doc.text and shown["length"] == len(doc.text)
    assert [(s["id"], s["start"], s["end"]) for s in shown["sections"]] == [
        (s, doc.infodict[s]["start"], doc.infodict[s]["end"]) for s in
        ("cn-bibliographic-info", "claims", "description", "drawings")]
    plain = command(work / "p.html", name="quorl-text").stdout.decode().split("\n")
    assert plain[0] == "cn-bibliographic-info %d %d" % (shown["sections"][0]["start"],
                                                        shown["sections"][0]["end"])
    assert plain[plain.index("") + 1] == doc.text


def test_version():
    proc = command("--version")
    assert proc.returncode == 0 and proc.stdout.decode().startswith("quorl-mark 0.")


def test_job_errors_carry_file_stage_and_reason(work):
    (work / "bad.json").write_text("[{]")
    with pytest.raises(JobError) as caught:
        job.mark_patent(*inputs(work)[:2], work / "bad.json")
    error = caught.value
    assert (error.file, error.stage) == (str(work / "bad.json"), "read")
    assert error.reason.startswith("malformed JSON") and str(error).startswith(error.file)
    with pytest.raises(JobError) as caught:
        job.mark_patent(work / "p.html", work / "m.json", work / "m.json")
    assert caught.value.stage == "read" and "JSON file" in caught.value.reason
