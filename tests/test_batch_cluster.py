"""quorl-batch on a real Dask cluster (a LocalCluster of two worker processes of two threads):
the same outputs as on this machine, and a killed, hung or interrupted child costs its patent,
never the Dask worker."""
import contextlib
import os
import shutil
import signal
import subprocess
import sys
import time

import pytest
from distributed import Client, LocalCluster

from patent_files import small_patents
from quorl_mark.batch import mark_batch
from stuck_inputs import kill_readers, make_fifo, wait_for_reader

SCRIPT = os.path.join(os.path.dirname(sys.executable), "quorl-batch")


@pytest.fixture(scope="module")
def client():
    with LocalCluster(n_workers=2, threads_per_worker=2, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        yield client


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    return small_patents(tmp_path_factory.mktemp("dask-in"), 4)


def with_stuck(folder, tmp_path, names):
    copy = tmp_path / "in"
    shutil.copytree(folder, copy)
    for name in names:
        for ext in (".html", ".pdf"):
            shutil.copy(copy / ("p0" + ext), copy / (name + ext))
    return copy, [make_fifo(copy / (name + ".marks.json")) for name in names]


def test_the_cluster_marks_as_this_machine_does(client, folder, tmp_path):
    inputs, (crash, _) = with_stuck(folder, tmp_path, ["crash", "hang"])
    (inputs / "bad.html").write_text("<html><body><p>no sections</p></body></html>")
    shutil.copy(inputs / "p1.pdf", inputs / "bad.pdf")
    shutil.copy(inputs / "p1.marks.json", inputs / "bad.marks.json")
    workers = client.run(os.getpid)
    killer, killed = kill_readers(crash, times=2)
    lines = list(mark_batch(inputs, tmp_path / "dask", client=client, timeout=4, per_task=2))
    killer.join(5)
    status = {line["name"]: line["status"] for line in lines}
    assert status == dict(p0="ok", p1="ok", p2="ok", p3="ok", bad="failed", crash="crashed",
                          hang="timeout")
    assert len(killed) == 2 and len(set(killed)) == 2
    assert client.run(os.getpid) == workers  # no Dask worker was lost or restarted
    by_name = {line["name"]: line for line in lines}
    assert by_name["bad"]["error"].startswith("%s: not a patent's full text" % (inputs / "bad.html"))
    assert {by_name["p%d" % n]["worker"].split(":")[1] for n in range(4)}.isdisjoint(
        str(pid) for pid in workers.values())  # marked in children, not in the workers

    local = list(mark_batch(folder, tmp_path / "local", jobs=2))
    assert {line["status"] for line in local} == {"ok"}
    for n in range(4):
        name = "p%d.marks.json" % n
        assert (tmp_path / "dask" / name).read_bytes() == (tmp_path / "local" / name).read_bytes()


def test_ctrl_c_on_the_client_interrupts_the_tasks(client, folder, tmp_path):
    inputs, fifos = with_stuck(folder, tmp_path, ["a-held"])
    outdir = tmp_path / "out"
    proc = subprocess.Popen([SCRIPT, str(inputs), "-o", str(outdir), "--dask",
                             client.scheduler.address], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    try:
        fd, _ = wait_for_reader(fifos[0])
        proc.send_signal(signal.SIGINT)
        start = time.monotonic()
        out, err = proc.communicate(timeout=30)
        assert time.monotonic() - start < 12
        os.close(fd)
    finally:
        with contextlib.suppress(ProcessLookupError):
            proc.kill()
    assert proc.returncode == 130 and err.endswith("quorl-batch: interrupted\n")
    with open(outdir / "report.jsonl") as f:
        held = [line for line in f if '"a-held"' in line]
    assert len(held) == 1 and '"interrupted"' in held[0]
    assert not list(outdir.glob("a-held*"))


def test_a_killed_dask_worker_takes_its_children_with_it(folder, tmp_path):
    """After a KilledWorker no orphaned child may go on and commit the patent it held."""
    import dask
    import threading

    from stuck_inputs import alive

    inputs = tmp_path / "in"
    inputs.mkdir()
    for ext in (".html", ".pdf"):
        shutil.copy(folder / ("p0" + ext), inputs / ("held" + ext))
    held = make_fifo(inputs / "held.marks.json")
    outdir = tmp_path / "out"
    with dask.config.set({"distributed.scheduler.allowed-failures": 0}), \
            LocalCluster(n_workers=1, threads_per_worker=1, processes=True,
                         dashboard_address=":0") as cluster, Client(cluster) as client:
        (worker,) = client.run(os.getpid).values()
        lines = []
        run = threading.Thread(target=lambda: lines.extend(
            mark_batch(inputs, outdir, client=client)), daemon=True)
        run.start()
        fd, children = wait_for_reader(held)
        os.kill(worker, signal.SIGKILL)
        deadline = time.monotonic() + 15
        while any(alive(pid) for pid in children) and time.monotonic() < deadline:
            time.sleep(0.05)
        assert not any(alive(pid) for pid in children)
        with contextlib.suppress(OSError):  # a child still there would now mark and commit
            os.write(fd, (folder / "p0.marks.json").read_bytes())
        os.close(fd)
        run.join(60)
    assert not (outdir / "held.pdf").exists() and not (outdir / "held.marks.json").exists()
    assert [line["status"] for line in lines] == ["crashed"]
