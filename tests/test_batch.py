"""quorl-batch on this machine: real child processes, real files. Outputs and messages are those
of quorl-mark; children killed, hung and interrupted cost their own patent only; a second run
resumes."""
import contextlib
import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys
import time

import pymupdf
import pytest

from patent_files import latest, report, write_patent
from quorl_mark.batch import mark_batch
from quorl_mark.batch.progress import Progress
from quorl_mark.commands import batch as batch_cli, mark as cli
from stuck_inputs import kill_readers, make_fifo, wait_for_reader

SCRIPT = os.path.join(os.path.dirname(sys.executable), "quorl-batch")
GOOD = ("p0", "p1", "p2")


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    """Three small patents and one of each kind of bad input."""
    folder = tmp_path_factory.mktemp("corpus")
    for seed, name in enumerate(GOOD):
        write_patent(folder, name, seed, pages=3, marks=8)
    html, pdf, marks = (folder / ("p0" + ext) for ext in (".html", ".pdf", ".marks.json"))
    shutil.copy(html, folder / "missing.html")
    shutil.copy(marks, folder / "missing.marks.json")
    doc = pymupdf.open()
    doc.new_page().insert_text((72, 72), "hello")
    (folder / "notpatent.pdf").write_bytes(doc.tobytes())
    for name in ("notpatent", "badmarks", "outside", "ambiguous"):
        shutil.copy(html, folder / (name + ".html"))
        if name != "notpatent":
            shutil.copy(pdf, folder / (name + ".pdf"))
    shutil.copy(marks, folder / "notpatent.marks.json")
    (folder / "badmarks.marks.json").write_text('[{"start": 1,')
    (folder / "outside.marks.json").write_text(json.dumps(
        [{"start": 10 ** 6, "end": 10 ** 6 + 5, "type": "par", "title": "1", "content": "x"}]))
    shutil.copy(marks, folder / "ambiguous.marks.json")
    shutil.copy(marks, folder / "ambiguous.json")
    return folder


def copy_of(corpus, tmp_path, names=None):
    folder = tmp_path / "in"
    folder.mkdir()
    for path in corpus.iterdir():
        if names is None or path.name.split(".")[0] in names:
            shutil.copy(path, folder / path.name)
    return folder



def quorl_mark_error(capsys, folder, name, tmp_path):
    status = cli.main([str(folder / (name + ext)) for ext in (".html", ".pdf", ".marks.json")]
                      + ["-o", str(tmp_path / "single.pdf")])
    err = capsys.readouterr().err
    assert status == 1 and err.startswith("quorl-mark: error: ")
    return err[len("quorl-mark: error: "):].strip()


def no_temporary_files(folder):
    return [p for p in folder.rglob("*") if p.name.endswith((".part", ".old"))] == []


def test_a_folder_marked_as_quorl_mark_marks_each_patent(corpus, tmp_path, capfd):
    outdir = tmp_path / "out"
    status = batch_cli.main([str(corpus), "-o", str(outdir), "-j", "2", "--review", "--dpi", "30"])
    out, err = capfd.readouterr()
    assert status == 1
    lines = latest(outdir)
    for name in GOOD:
        review = outdir / name / "review"
        assert b"<html" in (review / "index.html").read_bytes()
        assert len(list((review / "pages").iterdir())) == lines[name]["pages"]
    assert len(report(outdir)) == len(lines) == 8
    assert {n: lines[n]["status"] for n in lines} == dict(
        {n: "ok" for n in GOOD}, missing="failed", notpatent="failed", badmarks="failed",
        outside="failed", ambiguous="failed")
    # The module's own prints reach neither output; the summary is the only line on stdout.
    assert out.splitlines() == [out.strip()] and "3 marked" in out and "5 failed" in out
    assert "markinfo" not in err and "\r" not in err
    assert "quorl-batch: ambiguous: " in err and "ambiguous" in lines["ambiguous"]["error"]

    single = tmp_path / "single"
    for name in GOOD:
        sources = [str(corpus / (name + ext)) for ext in (".html", ".pdf", ".marks.json")]
        assert cli.main(sources + ["-o", str(single / (name + ".pdf")), "--marks-out",
                                   str(single / (name + ".marks.json")), "-q"]) == 0
        assert (outdir / (name + ".marks.json")).read_bytes() == \
            (single / (name + ".marks.json")).read_bytes()
        with pymupdf.open(outdir / (name + ".pdf")) as a, \
                pymupdf.open(single / (name + ".pdf")) as b:
            assert [len(list(p.annots())) for p in a] == [len(list(p.annots())) for p in b]
            pages = a.page_count
        line = lines[name]
        assert line["pages"] == pages and line["marks"] == 8 and line["worker"]
        assert {"read", "align", "mark", "write", "total"} <= set(line["seconds"])
        data = (corpus / (name + ".pdf")).read_bytes()
        assert line["inputs"]["pdf"] == {"size": len(data),
                                         "sha256": hashlib.sha256(data).hexdigest()}
    capfd.readouterr()
    for name in ("missing", "notpatent", "badmarks", "outside"):
        assert lines[name]["error"] == quorl_mark_error(capfd, corpus, name, tmp_path)
        assert not (outdir / (name + ".pdf")).exists()
    assert no_temporary_files(outdir)


def test_skip_unplaced_counts_the_marks_left_out(corpus, tmp_path):
    folder = copy_of(corpus, tmp_path, ("p0", "outside"))
    lines = {line["name"]: line for line in mark_batch(folder, tmp_path / "out", jobs=1,
                                                       skip_unplaced=True)}
    assert {n: (l["status"], l["marks"], l["unplaced"]) for n, l in lines.items()} == {
        "p0": ("ok", 8, 0), "outside": ("ok", 0, 1)}
    assert "cannot be placed" in lines["outside"]["warnings"][0]


def test_a_second_run_resumes(corpus, tmp_path, capfd):
    folder = copy_of(corpus, tmp_path, GOOD + ("badmarks",))
    outdir = tmp_path / "out"
    args = [str(folder), "-o", str(outdir), "-j", "2", "-q"]
    assert batch_cli.main(args) == 1
    assert batch_cli.main(args) == 1
    assert {n: l["status"] for n, l in latest(outdir).items()} == dict(
        p0="skipped", p1="skipped", p2="skipped", badmarks="failed")
    marks = json.loads((folder / "p1.marks.json").read_text())
    (folder / "p1.marks.json").write_text(json.dumps(marks[:3]))  # an input changed
    (outdir / "p2.pdf").unlink()  # an output lost
    (folder / "badmarks.marks.json").write_text("[]")  # a failure mended
    assert batch_cli.main(args) == 0
    lines = latest(outdir)
    assert {n: l["status"] for n, l in lines.items()} == dict(
        p0="skipped", p1="ok", p2="ok", badmarks="ok")
    assert lines["p1"]["marks"] == 3 and (outdir / "p2.pdf").exists()
    assert batch_cli.main(args + ["--force"]) == 0
    assert {l["status"] for l in latest(outdir).values()} == {"ok"}
    assert len(report(outdir)) == 16
    capfd.readouterr()


def test_a_manifest_refuses_bad_lines_and_goes_on(corpus, tmp_path, capfd):
    folder = copy_of(corpus, tmp_path, GOOD)
    good = {"name": "first", "html": "in/p0.html", "pdf": "in/p0.pdf", "marks": "in/p0.marks.json",
            "output": "marked/first.pdf"}
    lines = [json.dumps(good), "{not json",
             json.dumps(dict(good, name="../escape")),
             json.dumps(dict(good, name="first")),
             json.dumps({"name": "nohtml", "pdf": "in/p1.pdf", "marks": "in/p1.marks.json"}),
             "",
             json.dumps({"name": "second", "html": str(folder / "p1.html"), "pdf": "in/p1.pdf",
                         "marks": "in/p1.marks.json"})]
    manifest = tmp_path / "batch.jsonl"
    manifest.write_text("\n".join(lines) + "\n")
    outdir = tmp_path / "out"
    assert batch_cli.main([str(manifest), "-o", str(outdir), "-j", "2", "-q"]) == 1
    got = {l["name"]: (l["status"], l["error"]) for l in report(outdir)}
    where = "%s: line " % manifest
    assert got == {
        "first": ("ok", None), "second": ("ok", None),
        "line 2": ("failed", got["line 2"][1]),
        "line 3": ("failed", where + "3: name: '../escape' is not a plain file name"),
        "line 4": ("failed", where + "4: name: 'first' was given on an earlier line"),
        "nohtml": ("failed", where + "5: the key 'html' is missing")}
    assert got["line 2"][1].startswith(where + "2: malformed JSON")
    assert (tmp_path / "marked" / "first.pdf").exists() and (outdir / "second.pdf").exists()
    assert (outdir / "first.marks.json").exists() and not (outdir / "first.pdf").exists()
    capfd.readouterr()


def test_outdir_must_not_be_the_input_folder(corpus, tmp_path, capsys):
    folder = copy_of(corpus, tmp_path, ("p0",))
    assert batch_cli.main([str(folder), "-o", str(folder)]) == 1
    assert capsys.readouterr().err == "quorl-batch: error: %s: OUTDIR is the input folder; the " \
        "outputs need a folder of their own\n" % folder
    assert sorted(p.name for p in folder.iterdir()) == ["p0.html", "p0.marks.json", "p0.pdf"]


def test_killed_and_hung_children_cost_their_own_patent(corpus, tmp_path, capfd):
    folder = copy_of(corpus, tmp_path, GOOD)
    for name in ("crash", "hang"):
        for ext in (".html", ".pdf"):
            shutil.copy(folder / ("p0" + ext), folder / (name + ext))
    killer, killed = kill_readers(make_fifo(folder / "crash.marks.json"), times=2)
    make_fifo(folder / "hang.marks.json")  # never written: its reader waits for ever
    outdir = tmp_path / "out"
    start = time.monotonic()
    assert batch_cli.main([str(folder), "-o", str(outdir), "-j", "2", "--timeout", "4",
                           "-q"]) == 1
    assert time.monotonic() - start < 40
    killer.join(5)
    lines = latest(outdir)
    assert {n: l["status"] for n, l in lines.items()} == dict(
        crash="crashed", hang="timeout", p0="ok", p1="ok", p2="ok")
    assert len(killed) == 2 and len(set(killed)) == 2  # retried once, in a new child
    assert lines["crash"]["error"] == "the worker process was killed by SIGKILL (tried 2 times)"
    assert lines["hang"]["error"] == "ran past the timeout of 4 s"
    assert no_temporary_files(outdir)
    capfd.readouterr()


def children_of(pid):
    out = subprocess.run(["ps", "-eo", "pid=,ppid=,args="], capture_output=True, text=True)
    return [line for line in out.stdout.splitlines()
            if line.split()[1] == str(pid) and "quorl_mark.worker" in line]


def test_ctrl_c_interrupts_the_patents_in_flight_and_resumes(corpus, tmp_path):
    folder = copy_of(corpus, tmp_path, GOOD)
    fifos = []
    for name in ("a-held", "b-held"):
        for ext in (".html", ".pdf"):
            shutil.copy(folder / ("p0" + ext), folder / (name + ext))
        fifos.append(make_fifo(folder / (name + ".marks.json")))
    outdir = tmp_path / "out"
    proc = subprocess.Popen([SCRIPT, str(folder), "-o", str(outdir), "-j", "2"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        held = [wait_for_reader(fifo) for fifo in fifos]  # both children are mid-patent
        assert len(children_of(proc.pid)) == 2
        proc.send_signal(signal.SIGINT)
        start = time.monotonic()
        out, err = proc.communicate(timeout=20)
        assert time.monotonic() - start < 6
    finally:
        with contextlib.suppress(ProcessLookupError):
            proc.kill()
    assert proc.returncode == 130 and err.endswith("quorl-batch: interrupted\n")
    assert "2 interrupted" in out
    for _, pids in held:
        for pid in pids:
            assert not os.path.exists("/proc/%d" % pid) or \
                open("/proc/%d/stat" % pid).read().split()[2] == "Z"
    lines = report(outdir)
    assert sorted((l["name"], l["status"]) for l in lines) == [("a-held", "interrupted"),
                                                             ("b-held", "interrupted")]
    assert not list(outdir.glob("?-held*")) and no_temporary_files(outdir)

    for (fd, _), fifo in zip(held, fifos):
        os.close(fd)
        os.unlink(fifo)
        shutil.copy(folder / "p1.marks.json", fifo)
    done = subprocess.run([SCRIPT, str(folder), "-o", str(outdir), "-q"])
    assert done.returncode == 0
    assert {l["status"] for l in latest(outdir).values()} == {"ok"}


def test_progress_is_plain_lines_without_a_terminal_and_diagnostics_need_v(corpus, tmp_path,
                                                                           capfd):
    progress = Progress("quorl-batch", 3, every=0)  # pytest's standard error is no terminal
    progress.update(failed=False)
    progress.update(failed=True)
    progress.close()
    quiet = Progress("quorl-batch", 3, quiet=True, every=0)
    quiet.update(failed=True)
    quiet.close()
    err = capfd.readouterr().err
    assert err.splitlines()[0].startswith("quorl-batch: 1 of 3 done, 0 failed, ")
    assert err.splitlines()[1].startswith("quorl-batch: 2 of 3 done, 1 failed, ")
    assert len(err.splitlines()) == 2 and "patents/s" in err and "\r" not in err

    folder = copy_of(corpus, tmp_path, ("p0",))
    assert batch_cli.main([str(folder), "-o", str(tmp_path / "out"), "-v"]) == 0
    out, err = capfd.readouterr()
    assert "markinfo" in err and out.startswith("quorl-batch: 1 done (1 marked, 0 skipped), 0 failed, ")
