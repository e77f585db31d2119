"""Batch marking: quorl-batch with --jobs 1, --jobs 2 and --dask (a LocalCluster of two worker
processes of one thread each) against the same patents marked one after the other in one process
through the Python API (job.mark_to_files) and against a shell loop running quorl-mark once per
patent; then the resident memory of one child process over 1,000 patents.

Two sets: 200 generated patents of 3-10 pages and 20 of 40-60 pages, 12 marks each, generated
once into build/bench-batch/. The shell loop runs over the first SHELL_LOOP patents of a set only
(it costs an interpreter start per patent); its figure is per patent.

Targets: --jobs 1 at most 1.10x the in-process time and at least 3x faster per patent than the
shell loop; --jobs 2 at least 1.7x the throughput of --jobs 1; --dask at least 0.85x the
throughput of the local pool with as many processes.

    python bench/bench_batch.py [--scaling]

--scaling measures only the speed-ups, on 60 patents of 40-60 pages, with the processes pinned
to cores, beside the speed-up the machine itself allows two processes.
"""
import json
import os
import resource
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))

from patent_files import write_patent  # noqa: E402
from quorl_mark import job  # noqa: E402
from quorl_mark.batch import mark_batch  # noqa: E402

CORPUS = ROOT / "build" / "bench-batch"
SETS = {"200 patents, 3-10 pages": ("small", 200, lambda i: 3 + i % 8),
        "20 patents, 40-60 pages": ("large", 20, lambda i: 40 + (i * 7) % 21)}
SHELL_LOOP = 30
ROUNDS = 2  # the machine is shared: each figure is the best of this many runs
MEMORY_PATENTS = 1000
BIN = pathlib.Path(sys.executable).parent


def corpus(folder, count, pages):
    folder = CORPUS / folder
    stamp = folder / ".complete"
    if not stamp.exists():
        shutil.rmtree(folder, ignore_errors=True)
        for i in range(count):
            write_patent(folder, "n%04d" % i, 1000 + i, pages=pages(i), marks=12)
        stamp.touch()
    return folder


def names(folder):
    return sorted(p.name[:-5] for p in folder.glob("*.html"))


def cpu_seconds(who):
    usage = resource.getrusage(who)
    return usage.ru_utime + usage.ru_stime


def in_process(folder):
    """Seconds (wall, CPU) to mark every patent one after the other in this process, import
    excluded."""
    import quorl  # noqa: F401  imported before the clock starts, as a long-running caller has

    with tempfile.TemporaryDirectory() as out:
        start, cpu = time.perf_counter(), cpu_seconds(resource.RUSAGE_SELF)
        for name in names(folder):
            base = str(folder / name)
            job.mark_to_files(base + ".html", base + ".pdf", base + ".marks.json",
                              os.path.join(out, name + ".pdf"),
                              marks_out=os.path.join(out, name + ".marks.json"))
        return time.perf_counter() - start, cpu_seconds(resource.RUSAGE_SELF) - cpu


def shell_loop(folder, count):
    """Seconds (wall, CPU) per patent of a loop running quorl-mark once per patent."""
    with tempfile.TemporaryDirectory() as out:
        start, cpu = time.perf_counter(), cpu_seconds(resource.RUSAGE_CHILDREN)
        for name in names(folder)[:count]:
            base = str(folder / name)
            subprocess.run([str(BIN / "quorl-mark"), base + ".html", base + ".pdf",
                            base + ".marks.json", "-o", os.path.join(out, name + ".pdf"),
                            "--marks-out", os.path.join(out, name + ".marks.json"), "-q"],
                           check=True)
        return ((time.perf_counter() - start) / count,
                (cpu_seconds(resource.RUSAGE_CHILDREN) - cpu) / count)


def batch_command(folder, *where):
    """Seconds (wall, CPU of the command and its children; not of Dask's workers) of one
    quorl-batch run, interpreter start and child start-up included."""
    with tempfile.TemporaryDirectory() as out:
        start, cpu = time.perf_counter(), cpu_seconds(resource.RUSAGE_CHILDREN)
        subprocess.run([str(BIN / "quorl-batch"), str(folder), "-o", out, "-q", *where],
                       check=True)
        seconds = time.perf_counter() - start, cpu_seconds(resource.RUSAGE_CHILDREN) - cpu
        with open(os.path.join(out, "report.jsonl")) as f:
            assert all(json.loads(line)["status"] == "ok" for line in f)
        return seconds


def best(runs):
    return min(run[0] for run in runs), min(run[1] for run in runs)


def speed_table():
    from distributed import LocalCluster

    rows = []
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster:
        for label, (name, count, pages) in SETS.items():
            folder = corpus(name, count, pages)
            runs = {key: [] for key in ("api", "jobs1", "jobs2", "dask")}
            for _ in range(ROUNDS):
                runs["api"].append(in_process(folder))
                runs["jobs1"].append(batch_command(folder, "--jobs", "1"))
                runs["jobs2"].append(batch_command(folder, "--jobs", "2"))
                runs["dask"].append(batch_command(folder, "--dask", cluster.scheduler_address))
            row = {key: best(value) for key, value in runs.items()}
            row["loop"] = shell_loop(folder, min(SHELL_LOOP, count))
            rows.append((label, count, row))
    print("Wall seconds (CPU seconds of this process or of the command and its children):")
    print()
    print("| patents | in process (API) | --jobs 1 | --jobs 2 | --dask (2 workers) | "
          "quorl-mark loop, per patent |")
    print("|---|---|---|---|---|---|")
    for label, count, row in rows:
        print("| %s | %.1f (%.1f) | %.1f (%.1f) | %.1f (%.1f) | %.1f | %.2f (%.2f) |"
              % ((label,) + row["api"] + row["jobs1"] + row["jobs2"] + row["dask"][:1]
                 + row["loop"]))
    print()
    print("| patents | --jobs 1 / in process, wall (CPU) (<= 1.10) | loop / --jobs 1 per "
          "patent (>= 3) | --jobs 2 speed-up (>= 1.7) | --dask / --jobs 2 (>= 0.85) | "
          "--jobs 2 patents/s | per core |")
    print("|---|---|---|---|---|---|---|")
    for label, count, row in rows:
        (api, api_cpu), (jobs1, jobs1_cpu), (jobs2, _), (dask, _) = (
            row[key] for key in ("api", "jobs1", "jobs2", "dask"))
        print("| %s | %.2f (%.2f) | %.1f | %.2f | %.2f | %.1f | %.1f |"
              % (label, jobs1 / api, jobs1_cpu / api_cpu, row["loop"][0] / (jobs1 / count),
                 jobs1 / jobs2, jobs2 / dask, count / jobs2, count / jobs2 / 2))


def rss_mb(pid):
    with open("/proc/%d/statm" % pid) as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20


def memory_table():
    """One child marks 1,000 patents (the small set five times over, through a manifest)."""
    folder = corpus(*SETS["200 patents, 3-10 pages"])
    patents = names(folder)
    with tempfile.TemporaryDirectory() as work:
        manifest = pathlib.Path(work) / "batch.jsonl"
        with open(manifest, "w") as f:
            for n in range(MEMORY_PATENTS):
                base = str(folder / patents[n % len(patents)])
                f.write(json.dumps({"name": "m%04d" % n, "html": base + ".html",
                                    "pdf": base + ".pdf", "marks": base + ".marks.json"}) + "\n")
        samples = {}
        workers = set()
        for n, line in enumerate(mark_batch(manifest, os.path.join(work, "out"), jobs=1), 1):
            assert line["status"] == "ok", line
            workers.add(line["worker"])
            if n in (1, 10, 100, 250, 500, 750, 1000):
                samples[n] = rss_mb(int(line["worker"].split(":")[1]))
    assert len(workers) == 1
    print("Resident memory of the one child process, after N patents:")
    print()
    print("| " + " | ".join(str(n) for n in samples) + " |")
    print("|" + "---|" * len(samples))
    print("| " + " | ".join("%.0f MB" % mb for mb in samples.values()) + " |")


SCALING_RUNS = 5
SCALING_SET = ("scaling", 60, SETS["20 patents, 40-60 pages"][2])  # the large set, three times over


def pinned(cores, work, *args):
    """``work(*args)`` with this process and every process it starts on ``cores`` (taskset)."""
    os.sched_setaffinity(0, cores)
    try:
        return work(*args)
    finally:
        os.sched_setaffinity(0, range(os.cpu_count()))


def in_process_pinned(folder, core):
    """A fresh interpreter marking ``folder`` through the API on ``core``: it is started by
    ``in_process_pair``, one or two at a time."""
    code = ("import sys; sys.path[:0] = %r; import bench_batch, pathlib; "
            "print(bench_batch.in_process(pathlib.Path(%r))[0])"
            % ([str(ROOT / "bench"), str(ROOT / "tests")], str(folder)))
    return subprocess.Popen(["taskset", "-c", str(core), sys.executable, "-c", code],
                            stdout=subprocess.PIPE, text=True)


def in_process_pair(folder, cores):
    """Seconds of the slowest of ``len(cores)`` in-process runs over ``folder``, one per core,
    started at once: the same work with nothing of the batch around it."""
    runs = [in_process_pinned(folder, core) for core in cores]
    return max(float(run.communicate()[0]) for run in runs)


def dask_api(client, folder):
    """Wall seconds of mark_batch on ``client``, as a long-running caller holding a connected
    client runs it (the command's import of distributed and connection are not counted)."""
    with tempfile.TemporaryDirectory() as out:
        start = time.perf_counter()
        for line in mark_batch(folder, out, client=client):
            assert line["status"] == "ok", line
        return time.perf_counter() - start


def scaling_table():
    """--jobs 2 against --jobs 1 and Dask against --jobs 2 on large patents, the processes
    pinned to the cores they may use (one core for --jobs 1), medians of SCALING_RUNS runs taken
    in turn, so that a change of the machine's load reaches every setting alike. Beside them the
    machine's own ceiling: the same marking in process, one run alone on core 0 against two at
    once on cores 0 and 1, which tells what two processes can gain here at all."""
    import statistics

    from distributed import Client, LocalCluster

    folder = corpus(*SCALING_SET)
    keys = ("alone", "pair", "jobs1", "jobs2", "dask", "dask_api")
    runs = {key: [] for key in keys}
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        dask_api(client, folder)  # the workers' children start once, as in a long-lived cluster
        for _ in range(SCALING_RUNS):
            runs["alone"].append(in_process_pair(folder, [0]))
            runs["pair"].append(in_process_pair(folder, [0, 1]))
            runs["jobs1"].append(pinned({0}, batch_command, folder, "--jobs", "1")[0])
            runs["jobs2"].append(pinned({0, 1}, batch_command, folder, "--jobs", "2")[0])
            runs["dask"].append(batch_command(folder, "--dask", cluster.scheduler_address)[0])
            runs["dask_api"].append(dask_api(client, folder))
    median = {key: statistics.median(value) for key, value in runs.items()}
    print("Large patents (%d of 40-60 pages), wall seconds, median of %d runs taken in turn:"
          % (SCALING_SET[1], SCALING_RUNS))
    print()
    print("| in process, alone on core 0 | two at once, cores 0 and 1 | machine ceiling "
          "(2 x alone / two at once) |")
    print("|---|---|---|")
    print("| %.2f | %.2f | %.2f |" % (median["alone"], median["pair"],
                                      2 * median["alone"] / median["pair"]))
    print()
    print("| --jobs 1 (core 0) | --jobs 2 (cores 0, 1) | --jobs 2 speed-up (>= 1.7) | "
          "of the ceiling |")
    print("|---|---|---|---|")
    speed_up = median["jobs1"] / median["jobs2"]
    print("| %.2f | %.2f | %.2f | %.0f%% |" % (
        median["jobs1"], median["jobs2"], speed_up,
        100 * speed_up * median["pair"] / (2 * median["alone"])))
    print()
    print("| --dask command, 2 workers | --dask / --jobs 2 (>= 0.9) | mark_batch on a connected "
          "client | its ratio to --jobs 2 |")
    print("|---|---|---|---|")
    print("| %.2f | %.2f | %.2f | %.2f |" % (
        median["dask"], median["jobs2"] / median["dask"], median["dask_api"],
        median["jobs2"] / median["dask_api"]))


if __name__ == "__main__":
    print("load average before: %.2f %.2f %.2f" % os.getloadavg())
    if "--scaling" in sys.argv[1:]:
        scaling_table()
    else:
        speed_table()
        print()
        memory_table()
    print("load average after: %.2f %.2f %.2f" % os.getloadavg())
