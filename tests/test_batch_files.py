"""quorl-batch's own files: the outputs of a run checked against every input and every other
output before any work, resume only when nothing that shapes the outputs changed, leftovers
of killed attempts cleaned, one run per OUTDIR, and a report on a full disk."""
import contextlib
import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys

import pytest

from patent_files import latest, report, small_patents
from quorl_mark.commands import batch as batch_cli
from stuck_inputs import make_fifo, wait_for_reader

SCRIPT = os.path.join(os.path.dirname(sys.executable), "quorl-batch")


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    return small_patents(tmp_path_factory.mktemp("files"), 3)



def digests(folder):
    return {p: hashlib.sha256(p.read_bytes()).hexdigest() for p in folder.rglob("*")
            if p.is_file()}


def patent(name, source, **more):
    return dict({"name": name, "html": "in/%s.html" % source, "pdf": "in/%s.pdf" % source,
                 "marks": "in/%s.marks.json" % source}, **more)


def test_every_output_is_checked_against_the_whole_run_before_any_work(corpus, tmp_path,
                                                                       capfd):
    shutil.copytree(corpus, tmp_path / "in")
    outdir = tmp_path / "out"
    outdir.mkdir()
    shutil.copy(corpus / "p2.marks.json", outdir / "feeder.marks.json")  # an earlier output
    manifest = tmp_path / "m.jsonl"
    records = [
        patent("report", "p0", output="out/report.jsonl"),
        patent("on-input", "p1", output="in/p0.pdf"),
        patent("first", "p2", output="marked/same.pdf"),
        patent("again", "p0", output="marked/same.pdf"),
        patent("on-marks", "p1", output="out/first.marks.json"),
        patent("on-manifest", "p2", output="m.jsonl"),
        dict(patent("reader", "p2"), marks="out/feeder.marks.json"),
        patent("feeder", "p1"),
        patent("via-link", "p0", output="link/p1.html"),
    ]
    os.symlink(tmp_path / "in", tmp_path / "link")
    manifest.write_text("".join(json.dumps(r) + "\n" for r in records))
    (outdir / "report.jsonl").write_text("")
    before = digests(tmp_path / "in")
    before[manifest] = hashlib.sha256(manifest.read_bytes()).hexdigest()
    before[outdir / "feeder.marks.json"] = digests(outdir)[outdir / "feeder.marks.json"]

    assert batch_cli.main([str(manifest), "-o", str(outdir), "-j", "2", "-q"]) == 1
    lines = latest(outdir)
    assert {n: l["status"] for n, l in lines.items()} == dict(
        {n: "failed" for n in ("report", "on-input", "again", "on-marks", "on-manifest",
                               "feeder", "via-link")}, first="ok", reader="ok")
    where = "%s: line " % manifest
    errors = {n: l["error"] for n, l in lines.items() if l["status"] == "failed"}
    assert errors["report"] == where + "1: output: %s/out/report.jsonl: is the report of the " \
        "run; each output needs a file of its own" % tmp_path
    assert errors["on-input"].startswith(where + "2: output: %s/in/p0.pdf: is the pdf input of "
                                         "line 1 (report)" % tmp_path)
    assert errors["again"] == where + "4: output: %s/marked/same.pdf: the same file as the " \
        "output of line 3 (first)" % tmp_path
    assert "is the marks file of first" in errors["on-marks"]
    assert errors["on-manifest"].startswith(where + "6: output: %s: is the manifest" % manifest)
    assert errors["feeder"] == where + "8: marks file: %s: is the marks input of line 7 " \
        "(reader); refusing to overwrite an input" % (outdir / "feeder.marks.json")
    assert "is the html input of line 2 (on-input)" in errors["via-link"]
    assert all(l["worker"] is None for n, l in lines.items() if n in errors)  # never started
    for path, digest in before.items():
        assert hashlib.sha256(path.read_bytes()).hexdigest() == digest, path
    assert (tmp_path / "marked" / "same.pdf").exists()
    capfd.readouterr()


def test_resume_redoes_what_changed_and_only_that(corpus, tmp_path, capfd):
    shutil.copytree(corpus, tmp_path / "in")
    outdir = tmp_path / "out"

    def run(*more):
        assert batch_cli.main([str(tmp_path / "in"), "-o", str(outdir), "-j", "2", "-q",
                               *more]) == 0
        return {n: l["status"] for n, l in latest(outdir).items()}

    assert set(run().values()) == {"ok"}
    assert set(run().values()) == {"skipped"}
    # An option that shapes the outputs: every patent is marked again, with its views.
    assert set(run("--review", "--dpi", "30").values()) == {"ok"}
    assert all((outdir / n / "review" / "index.html").exists() for n in ("p0", "p1", "p2"))
    assert set(run("--review", "--dpi", "30").values()) == {"skipped"}
    assert set(run("--review", "--dpi", "40").values()) == {"ok"}
    # Outputs that are no longer those written: replaced, or a view page removed.
    (outdir / "p0.pdf").write_bytes((tmp_path / "in" / "p1.pdf").read_bytes())
    next(iter(sorted((outdir / "p1" / "review" / "pages").iterdir()))).unlink()
    assert run("--review", "--dpi", "40") == dict(p0="ok", p1="ok", p2="skipped")
    line = latest(outdir)["p2"]
    assert line["options"]["dpi"] == 40 and line["outputs"]["pdf"]["path"] == str(
        outdir / "p2.pdf")

    # A manifest line whose output moved is marked again, into its new place.
    manifest = tmp_path / "m.jsonl"
    for output, expected in (("a.pdf", "ok"), ("a.pdf", "skipped"), ("b.pdf", "ok")):
        manifest.write_text(json.dumps(patent("p0", "p0", output=output)) + "\n")
        assert batch_cli.main([str(manifest), "-o", str(tmp_path / "mout"), "-q"]) == 0
        assert latest(tmp_path / "mout")["p0"]["status"] == expected
    assert (tmp_path / "b.pdf").exists()
    capfd.readouterr()


def test_leftovers_of_killed_attempts_are_removed_before_the_next(corpus, tmp_path, capfd):
    shutil.copytree(corpus, tmp_path / "in")
    outdir = tmp_path / "out"
    for folder in ("p0/diff", "p0/preview", "p0/review/pages", "p1/review"):
        (outdir / folder).mkdir(parents=True)
    leftovers = [outdir / ".p0.pdf.a1b2c3d4.part", outdir / ".p0.marks.json.zz__yy00.part",
                 outdir / "p0" / "review" / "pages" / ".page-001.png.abcd1234.part",
                 outdir / ".p1.pdf.0000aaaa.old"]
    for path in leftovers:
        path.write_bytes(b"half")
    kept = outdir / "p1" / "review" / "notes.txt"  # a file of the user's: never removed
    kept.write_text("mine")
    assert batch_cli.main([str(tmp_path / "in"), "-o", str(outdir), "-q"]) == 0
    assert not any(path.exists() for path in leftovers)
    assert not (outdir / "p0").exists() and kept.read_text() == "mine"
    capfd.readouterr()


def test_a_second_run_into_the_same_outdir_is_refused_and_sigterm_interrupts(corpus, tmp_path,
                                                                            capfd):
    shutil.copytree(corpus, tmp_path / "in")
    for ext in (".html", ".pdf"):
        shutil.copy(tmp_path / "in" / ("p0" + ext), tmp_path / "in" / ("held" + ext))
    fifo = make_fifo(tmp_path / "in" / "held.marks.json")
    outdir = tmp_path / "out"
    first = subprocess.Popen([SCRIPT, str(tmp_path / "in"), "-o", str(outdir), "-j", "1"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        fd, _ = wait_for_reader(fifo)  # the first run is marking "held"
        assert batch_cli.main([str(tmp_path / "in"), "-o", str(outdir), "-q"]) == 1
        err = capfd.readouterr().err
        assert err.startswith("quorl-batch: error: %s: another quorl-batch run is writing into "
                              "this folder (process %d on " % (outdir, first.pid))
        first.send_signal(signal.SIGTERM)
        out, err = first.communicate(timeout=30)
        os.close(fd)
    finally:
        with contextlib.suppress(ProcessLookupError):
            first.kill()
    assert first.returncode == 143 and err.endswith("quorl-batch: interrupted\n")
    assert "1 interrupted" in out
    statuses = [(l["name"], l["status"]) for l in report(outdir)]
    assert ("held", "interrupted") in statuses and len(statuses) == len(set(statuses))
    assert not list(outdir.glob("held*")) and not list(outdir.glob(".held*"))


def test_a_full_disk_says_so_and_counts_what_was_done(corpus, tmp_path, capfd):
    shutil.copytree(corpus, tmp_path / "in")
    outdir = tmp_path / "out"
    outdir.mkdir()
    os.symlink("/dev/full", outdir / "report.jsonl")
    status = batch_cli.main([str(tmp_path / "in"), "-o", str(outdir), "-j", "1", "--force"])
    out, err = capfd.readouterr()
    assert status == 1
    assert "%s: the disk is full: the line of p0 (ok) could not be added and the run stops" % (
        outdir / "report.jsonl") in err
    assert "unexpected" not in err and "1 done (1 marked" in out
    assert (outdir / "p0.pdf").exists()
    # Without --force the report would be read first: a device is refused, not read for ever.
    assert batch_cli.main([str(tmp_path / "in"), "-o", str(outdir), "-q"]) == 1
    assert "the report is not a regular file" in capfd.readouterr().err
