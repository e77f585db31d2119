"""What a new user meets first, through the commands: a closed pipe ends quietly, a misspelt or
shortened option names the right one, help fits the terminal, a mark record's unknown key and a
flag label too long for its box are warned about, quorl-batch -q still lists its failures, and a
scan given with another patent's HTML is refused before its pages are read, while the OCR of a
scan whose marking fails is kept for the next run."""
import json
import os
import shutil
import subprocess

import pymupdf
import pytest

from careless_use import BIN, command, patent_folder
from quorl_mark.ocr.document import ocr_document
from scans import scan_pdf

EXAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples")
SAMPLE = {kind: os.path.join(EXAMPLES, "sample" + suffix)
          for kind, suffix in (("html", ".html"), ("pdf", ".pdf"), ("marks", "-marks.json"))}


def sample_marks():
    with open(SAMPLE["marks"], encoding="utf-8") as f:
        return json.load(f)


@pytest.fixture(scope="module")
def work(tmp_path_factory):
    folder = tmp_path_factory.mktemp("newcomer")
    patent_folder(folder)
    return folder


def run_into_closed_pipe(args, folder):
    """Runs a command whose reader of standard output has gone before it writes; the files it
    is given are in ``folder``."""
    with subprocess.Popen([os.path.join(BIN, args[0])]
                          + [str(folder / a) if a[0] != "-" else a for a in args[1:]],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE) as proc:
        proc.stdout.close()
        err = proc.stderr.read().decode()
        return proc.wait(timeout=300), err


@pytest.mark.parametrize("args", [
    ["quorl-text", "p.html"],
    ["quorl-text", "--json", "p.html"],
    ["quorl-mark", "--help"],
    ["quorl-mark", "p.html", "p.pdf", "m.json", "-o", "-"],
    ["quorl-extract", "p.html", "p.pdf", "-o", "-"],
])
def test_a_closed_standard_output_ends_the_command_quietly(work, args):
    status, err = run_into_closed_pipe(args, work)
    # argparse itself drops what it cannot write of the help; the rest end as a closed pipe
    # ends other Unix tools.
    assert status in ((0, 141) if "--help" in args else (141,)) and "error" not in err and "Exception" not in err, (status, err)


@pytest.mark.parametrize("name,given,expected", [
    ("quorl-mark", "--allow", "did you mean --allow-mismatch? (options are not taken by a prefix"),
    ("quorl-mark", "--reveiw", "did you mean --review?"),
    ("quorl-batch", "--skip-unplace", "did you mean --skip-unplaced?"),
    ("quorl-extract", "--formt=w3c", "did you mean --format?"),
    ("quorl-text", "--jsno", "did you mean --json?"),
    ("quorl-text", "--nothing-like-it", "quorl-text --help lists the options"),
])
def test_an_unknown_option_names_the_closest_one(work, name, given, expected):
    proc = command(name, *(work / n for n in ("p.html", "p.pdf", "m.json")), given, "-o", "x")
    err = proc.stderr.decode()
    assert proc.returncode == 2 and "unknown option %s; %s" % (given.split("=")[0], expected) \
        in err, err


@pytest.mark.parametrize("name", ["quorl-mark", "quorl-batch", "quorl-text", "quorl-extract"])
def test_help_fits_an_80_column_terminal_and_shows_every_option_in_its_usage(name):
    proc = command(name, "--help", env=dict(os.environ, COLUMNS="80"))
    out = proc.stdout.decode()
    too_long = [line for line in out.splitlines() if len(line) > 80]
    assert proc.returncode == 0 and not too_long, too_long
    usage = out.split("\n\n")[0]
    if name in ("quorl-mark", "quorl-batch"):
        assert "[--skip-unplaced]" in usage
    if name == "quorl-batch":
        assert "--marks-out" not in out
    if name == "quorl-mark":
        assert "6 Chinese characters" in out  # what a flag's box holds


def test_unknown_keys_and_a_cut_flag_label_are_warned_once_naming_the_mark(tmp_path):
    marks = sample_marks()
    for index in (0, 1, 4):
        marks[index]["color"] = "#ff0000"
    marks[2]["colour"] = "red"
    flag = next(i for i, m in enumerate(marks) if m["type"] == "flag")
    marks[flag]["content"] = "description-begins-here"
    (tmp_path / "m.json").write_text(json.dumps(marks), encoding="utf-8")
    proc = command("quorl-mark", SAMPLE["html"], SAMPLE["pdf"], tmp_path / "m.json",
                   "-o", tmp_path / "o.pdf")
    warnings = [line for line in proc.stderr.decode().splitlines() if ": warning: " in line]
    assert proc.returncode == 0
    assert sorted(w.split(" has the key ")[1].split(",")[0] for w in warnings if " has the key " in w) \
        == ['"color"', '"colour"']
    assert any("mark 1 " in w and "as in 2 other marks" in w for w in warnings), warnings
    (cut,) = [w for w in warnings if "flag label" in w]
    assert "mark %d " % (flag + 1) in cut and '"description-begins-here"' in cut


def test_quiet_batch_still_lists_the_patent_that_failed_and_leaves_no_empty_folder(tmp_path):
    patents = tmp_path / "in"
    patents.mkdir()
    for name in ("good", "bad"):
        for kind, suffix in (("html", ".html"), ("pdf", ".pdf"), ("marks", ".marks.json")):
            shutil.copy(SAMPLE[kind], patents / (name + suffix))
    marks = sample_marks()
    (patents / "bad.marks.json").write_text(json.dumps(marks + [dict(marks[0], start=0, end=5)]))
    outdir = tmp_path / "out"
    quiet = command("quorl-batch", patents, "-o", outdir, "-q", "--jobs", "1")
    err = quiet.stderr.decode()
    assert quiet.returncode == 1 and quiet.stdout == b""
    assert "quorl-batch: bad: " in err and "--skip-unplaced" in err and "good" not in err, err

    assert command("quorl-batch", patents, "-o", outdir, "-q", "--review").returncode == 1
    shutil.rmtree(outdir / "good" / "review")  # the user clears the views away
    assert command("quorl-batch", patents, "-o", outdir, "-q").returncode == 1
    assert not (outdir / "good").exists() and not (outdir / "bad").exists()


@pytest.fixture(scope="module")
def scan(tmp_path_factory):
    folder = tmp_path_factory.mktemp("scan")
    with open(SAMPLE["pdf"], "rb") as f:
        (folder / "scan.pdf").write_bytes(scan_pdf(f.read(), dpi=300, noise=0.0))
    return folder


def test_a_scan_with_another_patents_html_is_refused_by_its_first_page(scan, monkeypatch,
                                                                      capsys):
    from quorl_mark.commands import mark
    from quorl_mark.ocr import document

    read = []

    def reading(pdf, **options):
        read.append(pymupdf.open("pdf", pdf).page_count)
        return ocr_document(pdf, **options)
    monkeypatch.setattr(document, "ocr_document", reading)
    with open(SAMPLE["html"], encoding="utf-8") as f:
        (scan / "other.html").write_text(f.read().replace("117465271", "117465999"))
    assert mark.main([str(scan / "other.html"), str(scan / "scan.pdf"), SAMPLE["marks"],
                      "-o", str(scan / "o.pdf")]) == 1
    err = capsys.readouterr().err
    assert "publication numbers differ: CN117465999 in the HTML, CN117465271 on the scan's " \
           "first page" in err and "--allow-mismatch" in err, err
    assert read == [1] and not (scan / "o.pdf").exists()  # the other pages were never read


def test_the_ocr_of_a_scan_whose_marking_fails_is_kept_for_the_next_run(scan):
    marks = sample_marks()
    (scan / "bad.json").write_text(json.dumps(marks + [dict(marks[0], start=0, end=5)]))
    kept = scan / "scan-ocr.pdf"
    failed = command("quorl-mark", SAMPLE["html"], scan / "scan.pdf", scan / "bad.json",
                     "-o", scan / "o.pdf", "--ocr-out", kept)
    err = failed.stderr.decode()
    assert failed.returncode == 1 and not (scan / "o.pdf").exists()
    assert "the OCR'd PDF is kept in %s" % kept in err and kept.stat().st_size > 0, err

    again = command("quorl-mark", SAMPLE["html"], kept, scan / "bad.json", "-o", scan / "o.pdf",
                    "--skip-unplaced", "--ocr-out", scan / "unused.pdf")
    err = again.stderr.decode()
    assert again.returncode == 0 and "Tesseract" not in err, err
    assert "no page needed OCR" in err and not (scan / "unused.pdf").exists()


def test_a_batch_keeps_a_scans_ocr_and_marks_it_on_the_next_run(scan):
    patents, outdir = scan / "patents", scan / "marked"
    patents.mkdir()
    shutil.copy(SAMPLE["html"], patents / "p.html")
    shutil.copy(scan / "scan.pdf", patents / "p.pdf")
    marks = sample_marks()
    (patents / "p.marks.json").write_text(json.dumps(marks + [dict(marks[0], start=0, end=5)]))
    lines = []
    for options in ([], ["--skip-unplaced"]):
        proc = command("quorl-batch", patents, "-o", outdir, "-q", "--jobs", "1", *options)
        with open(outdir / "report.jsonl", encoding="utf-8") as f:
            lines.append(json.loads(f.read().splitlines()[-1]))
        assert proc.returncode == (1 if not options else 0), proc.stderr.decode()
    failed, marked = lines
    assert failed["status"] == "failed" and str(outdir / "p" / "ocr.pdf") in failed["error"]
    assert marked["status"] == "ok" and marked["seconds"]["ocr"] == 0
    assert marked["inputs"]["pdf"]["size"] == (patents / "p.pdf").stat().st_size
