"""What quorl-batch says: wrong option values exit 2, nothing found is said with where it looked,
manifest faults name the line and the field once, outputs are named as a batch user knows
them, and a Dask cluster without workers is no silent wait."""
import json
import os
import selectors
import shutil
import subprocess
import sys
import time

import pytest

from patent_files import write_patent
from quorl_mark.commands import batch as batch_cli

SCRIPT = os.path.join(os.path.dirname(sys.executable), "quorl-batch")


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    folder = tmp_path_factory.mktemp("messages")
    write_patent(folder, "p0", 0, pages=3, marks=4)
    return folder


@pytest.mark.parametrize("option, value", [
    ("--timeout", "0"), ("--timeout", "-3"), ("--timeout", "nan"), ("--timeout", "soon"),
    ("--dpi", "0"), ("--dpi", "5000"), ("--jobs", "0"), ("--max-rss-mb", "0"),
    ("--max-tasks-per-child", "0"), ("--per-task", "-1"),
])
def test_every_invalid_option_value_exits_2(corpus, tmp_path, capsys, option, value):
    with pytest.raises(SystemExit) as exit:
        batch_cli.main([str(corpus), "-o", str(tmp_path / "out"), option, value])
    assert exit.value.code == 2
    err = capsys.readouterr().err
    assert "quorl-batch: error: argument " in err and option in err
    assert not (tmp_path / "out").exists()


def test_help_states_the_defaults_of_the_limits(capsys):
    with pytest.raises(SystemExit):
        batch_cli.main(["--help"])
    text = " ".join(capsys.readouterr().out.split())
    assert "default: 120 s plus 120 s per MB of the patent's three inputs" in text
    assert "(default: 2048, or the machine's memory shared among the children" in text


def test_nothing_found_is_a_warning_saying_where_and_what(tmp_path, capfd):
    empty = tmp_path / "folder"
    empty.mkdir()
    (empty / "CN1.htm").write_text("x")
    (empty / "CN1.PDF").write_text("x")
    manifest = tmp_path / "m.jsonl"
    manifest.write_text("\n\n")
    for source, expected in (
            (empty, "quorl-batch: warning: %s: no patents found: each patent is NAME.html, "
                    "NAME.pdf and NAME.marks.json (or NAME.json) in this folder; it holds 2 other "
                    "files, such as CN1.PDF, CN1.htm\n" % empty),
            (manifest, "quorl-batch: warning: %s: no patents found: the manifest has no lines; "
                       "each line is a JSON object with the keys name, html, pdf and marks (and "
                       "optionally output)\n" % manifest)):
        assert batch_cli.main([str(source), "-o", str(tmp_path / "out")]) == 0
        out, err = capfd.readouterr()
        assert err == expected and "0 done" in out


def test_faults_name_the_manifest_line_and_field_never_quorl_mark_options(corpus, tmp_path,
                                                                         capfd):
    shutil.copytree(corpus, tmp_path / "in")
    (tmp_path / "taken").mkdir()
    outdir = tmp_path / "out"
    (outdir / "p0.pdf").mkdir(parents=True)  # a folder where the folder run's PDF goes
    paths = {"html": "in/p0.html", "pdf": "in/p0.pdf", "marks": "in/p0.marks.json"}
    manifest = tmp_path / "m.jsonl"
    manifest.write_text("\n".join([
        json.dumps(dict(paths, name="a", output="taken")),
        "{broken",
        json.dumps(dict(paths, name="b", html="in/none.html")),
        json.dumps(dict(paths, name="c", pdf=7)),
    ]) + "\n")
    assert batch_cli.main([str(manifest), "-o", str(tmp_path / "mout")]) == 1
    err = capfd.readouterr().err.splitlines()
    where = "%s: line " % manifest
    assert sorted(err) == sorted([
        "quorl-batch: a: %s1: output: %s: is a directory" % (where, tmp_path / "taken"),
        "quorl-batch: %s2: malformed JSON: Expecting property name enclosed in double quotes "
        "(column 2)" % where,
        "quorl-batch: b: %s3: html: %s: no such file" % (where, tmp_path / "in" / "none.html"),
        "quorl-batch: c: %s4: pdf: must be a non-empty string, not 7" % where])

    assert batch_cli.main([str(tmp_path / "in"), "-o", str(outdir), "-q"]) == 1
    with open(outdir / "report.jsonl") as f:
        (line,) = [json.loads(raw) for raw in f]
    assert line["error"] == "%s: is a directory" % (outdir / "p0.pdf")


def test_a_dask_scheduler_without_workers_is_no_silent_wait(corpus, tmp_path):
    from distributed import LocalCluster

    with LocalCluster(n_workers=0, protocol="tcp://", dashboard_address=None) as cluster:
        proc = subprocess.Popen([SCRIPT, str(corpus), "-o", str(tmp_path / "out"), "--dask",
                                 cluster.scheduler_address], stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, text=True)
        try:
            selector = selectors.DefaultSelector()
            selector.register(proc.stderr, selectors.EVENT_READ)
            deadline, said = time.monotonic() + 60, ""
            while "queued" not in said and time.monotonic() < deadline:
                if selector.select(1):
                    line = proc.stderr.readline()
                    if not line:
                        break
                    said += line
        finally:
            proc.kill()
            proc.communicate()
            selector.close()
    assert "quorl-batch: waiting for Dask workers: none is connected to the scheduler at %s; " \
        "1 task queued" % cluster.scheduler_address in said
