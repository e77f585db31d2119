"""quorl-batch's children and their limits, with real processes: a child dies with the batch,
a patent over the memory cap fails while it runs, a crashed attempt has its own line and the
retry says so."""
import contextlib
import os
import shutil
import subprocess
import sys
import time

import pytest

from big_image import add_huge_page
from patent_files import report, small_patents
from quorl_mark.commands import batch as batch_cli
from stuck_inputs import alive, kill_once_then_feed, make_fifo, wait_for_reader

SCRIPT = os.path.join(os.path.dirname(sys.executable), "quorl-batch")


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    return small_patents(tmp_path_factory.mktemp("limits"), 2)


def held_copy(corpus, tmp_path, name="held"):
    folder = tmp_path / "in"
    shutil.copytree(corpus, folder)
    for ext in (".html", ".pdf"):
        shutil.copy(folder / ("p0" + ext), folder / (name + ext))
    return folder, make_fifo(folder / (name + ".marks.json"))


def wait_until(condition, seconds=15):
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.05)
    return condition()


def test_children_die_with_a_killed_batch_and_commit_nothing(corpus, tmp_path):
    folder, fifo = held_copy(corpus, tmp_path)
    outdir = tmp_path / "out"
    batch = subprocess.Popen([SCRIPT, str(folder), "-o", str(outdir), "-j", "1", "-q"],
                             stderr=subprocess.DEVNULL)
    try:
        fd, (child,) = wait_for_reader(fifo)
        batch.kill()
        batch.wait(10)
        assert wait_until(lambda: not alive(child)), "the child outlived the batch"
        os.close(fd)
    finally:
        with contextlib.suppress(ProcessLookupError):
            batch.kill()
    assert not list(outdir.glob("held*")) and not list(outdir.glob(".held*"))


def test_a_patent_over_the_memory_cap_fails_while_it_runs(corpus, tmp_path, capfd):
    folder = tmp_path / "in"
    shutil.copytree(corpus, folder)
    for ext in (".html", ".pdf", ".marks.json"):
        shutil.copy(folder / ("p1" + ext), folder / ("huge" + ext))
    add_huge_page(folder / "huge.pdf")  # its review page image takes 432 MB
    outdir = tmp_path / "out"
    assert batch_cli.main([str(folder), "-o", str(outdir), "-j", "1", "--review", "--dpi", "60",
                           "--max-rss-mb", "200"]) == 1
    lines = {line["name"]: line for line in report(outdir)}
    assert {n: l["status"] for n, l in lines.items()} == dict(p0="ok", p1="ok", huge="failed")
    assert lines["huge"]["error"].startswith("needed more than 200 MB of memory")
    assert not (outdir / "huge.pdf").exists()
    assert "quorl-batch: huge: needed more than 200 MB" in capfd.readouterr().err


def test_a_crashed_attempt_has_its_line_and_the_retry_says_it_was_one(corpus, tmp_path,
                                                                       capfd):
    folder, fifo = held_copy(corpus, tmp_path, "flaky")
    killer, killed = kill_once_then_feed(fifo, (corpus / "p0.marks.json").read_bytes())
    outdir = tmp_path / "out"
    assert batch_cli.main([str(folder), "-o", str(outdir), "-j", "2"]) == 0
    killer.join(10)
    flaky = [line for line in report(outdir) if line["name"] == "flaky"]
    assert [(l["status"], l["attempt"], l.get("retrying")) for l in flaky] == [
        ("crashed", 1, True), ("ok", 2, None)]
    assert flaky[0]["error"] == "the worker process was killed by SIGKILL; trying again in a " \
        "new one" and flaky[0]["worker"].endswith(":%d" % killed[0])
    out, err = capfd.readouterr()
    assert "quorl-batch: flaky: crashed: the worker process was killed" in err
    assert "3 done (3 marked, 0 skipped), 0 failed" in out  # the crash is no failure
