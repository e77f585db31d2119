"""What the single-patent commands say when a user gets something wrong: invalid option values
exit 2 through argparse, output paths that cannot be written say why, a mark over text only the
HTML has and a marks file nested too deeply are named in words, and --marks-out - writes to
standard output."""
import json
import subprocess

import pytest

import quorl
from careless_use import command, patent_folder, refused


@pytest.fixture(scope="module")
def work(tmp_path_factory):
    folder = tmp_path_factory.mktemp("messages")
    patent, marks = patent_folder(folder)
    return folder, patent, marks


def files(folder):
    return folder / "p.html", folder / "p.pdf", folder / "m.json"


@pytest.mark.parametrize("name,args,expected", [
    ("quorl-mark", ["--dpi", "0"], "argument --dpi: 0 is outside 10 to 1200"),
    ("quorl-mark", ["--dpi", "many"], "argument --dpi: 'many' is not a whole number"),
    ("quorl-mark", ["--marks-out", ""], "argument --marks-out: an empty path names no file"),
    ("quorl-mark", ["-o", "-", "--marks-out", "-"], "cannot both go to standard output"),
    ("quorl-extract", ["-o", ""], "argument -o/--output: an empty path names no file"),
    ("quorl-extract", ["--format", "xml"], "argument --format: invalid choice"),
    ("quorl-text", [""], "argument PATENT.html: an empty path names no file"),
])
def test_an_invalid_option_value_exits_2(work, name, args, expected):
    folder, _, _ = work
    given = {"quorl-mark": [*files(folder), "-o", folder / "o.pdf"],
             "quorl-extract": [folder / "p.html", folder / "p.pdf", "-o", folder / "r.json"],
             "quorl-text": []}[name]
    err = refused(folder, name, *given, *args, status=2)
    assert expected in err and err.rstrip().splitlines()[-1].startswith(name + ": error: ")


def test_standard_output_by_its_device_name_is_refused_with_the_way_to_it(work):
    folder, _, _ = work
    proc = subprocess.run("%s %s -o /dev/stdout | cat" % (
        command.__globals__["BIN"] + "/quorl-mark", " ".join(map(str, files(folder)))),
        shell=True, capture_output=True)
    err = proc.stderr.decode()
    assert "-o /dev/stdout: exists and is a FIFO (a pipe)" in err, err
    assert "give '-' to write to standard output" in err and proc.stdout == b""


def test_a_folder_where_no_file_can_be_made_says_so(work):
    folder, _, _ = work
    err = refused(folder, "quorl-mark", *files(folder), "-o", "/proc/o.pdf")
    assert "the folder of /proc: no file can be created in it" in err
    assert "proc file system" in err


def test_marks_out_dash_writes_the_marks_to_standard_output(work):
    folder, _, marks = work
    proc = command("quorl-mark", *files(folder), "-o", folder / "o.pdf", "--marks-out", "-")
    assert proc.returncode == 0, proc.stderr
    written = json.loads(proc.stdout)
    assert [m["start"] for m in written] == [m["start"] for m in marks]
    assert all(m["rects"] for m in written)
    assert b"wrote the marks to standard output" in proc.stderr
    assert (folder / "o.pdf").read_bytes().startswith(b"%PDF") and not (folder / "-").exists()


def test_a_mark_over_text_only_the_html_has_is_named_in_words(work, tmp_path):
    folder, patent, _ = work
    htmldoc = quorl.HtmlDocument(patent.html, parserlist=[{"name": ["img", "div", "h2"]}])
    paragraph = htmldoc.infodict["p0002"]
    first_words = htmldoc.text[paragraph["start"]:paragraph["start"] + 6]
    added = "QXZ只在网页里的一句话QXZ"
    (tmp_path / "p.html").write_text(patent.html.replace(first_words, added + first_words, 1),
                                     encoding="utf-8")
    (tmp_path / "p.pdf").write_bytes(patent.pdf)
    mark = {"start": paragraph["start"] + 3, "end": paragraph["start"] + len(added) - 3,
            "type": "par", "title": "1", "content": ""}
    (tmp_path / "m.json").write_text(json.dumps([mark]), encoding="utf-8")
    err = refused(tmp_path, "quorl-mark", *files(tmp_path), "-o", tmp_path / "o.pdf")
    assert "m.json: mark 1 (" in err and "no part of it is aligned with the PDF text" in err
    assert "Reduce" not in err


def test_a_marks_file_nested_too_deeply_is_named(work, tmp_path):
    folder, _, _ = work
    (tmp_path / "deep.json").write_text("[" * 100_000 + "]" * 100_000)
    err = refused(tmp_path, "quorl-mark", folder / "p.html", folder / "p.pdf",
                  tmp_path / "deep.json", "-o", tmp_path / "o.pdf")
    assert "deep.json: its JSON is nested too deeply" in err


def test_help_documents_what_surprises(work):
    text = " ".join(command("quorl-mark", "--help").stdout.decode().split())
    assert 'every flag mark also draws the fixed red "Claims" flag' in text
    assert "imgpar and imgig labels are opaque" in text and "imagenote#1000,0,0,1000$" in text
