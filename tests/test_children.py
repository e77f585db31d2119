"""ChildPool against real child processes: results, one-line failures, children killed, hung,
replaced and interrupted."""
import pathlib
import subprocess
import time

import pytest

from quorl_mark.children import ChildPool, ChildPoolError

TESTS = str(pathlib.Path(__file__).resolve().parent)
ENV = {"PYTHONPATH": TESTS, "QUORL_TEST_VALUE": "seen"}


def task(key, function, *args):
    return key, "child_tasks:" + function, args


def test_outcomes_of_every_kind(tmp_path):
    tasks = [task("sum", "chatty_sum", 2, 3), task("env", "environment", "QUORL_TEST_VALUE"),
             task("fail", "fail"), task("unpicklable", "unpicklable"),
             task("die once", "die_once", str(tmp_path / "died")), task("die", "die"),
             task("hang", "sleep", 60), task("after", "chatty_sum", 1, 1)]
    start = time.monotonic()
    with ChildPool(2, timeout=3, env=ENV) as pool:
        outcomes = {o.key: o for o in pool.run(tasks)}
    assert time.monotonic() - start < 20
    assert sorted(outcomes) == sorted(key for key, _, _ in tasks)
    assert outcomes["sum"].status == "ok" and outcomes["sum"].value["sum"] == 5
    assert outcomes["sum"].worker.endswith(":%d" % outcomes["sum"].value["pid"])
    assert outcomes["env"].value == "seen"
    assert (outcomes["fail"].status, outcomes["fail"].error) == (
        "failed", "ValueError: a value spread over lines")
    assert outcomes["unpicklable"].status == "failed"
    assert "cannot be sent back" in outcomes["unpicklable"].error
    assert outcomes["die once"].status == "ok"  # retried once in a new child
    assert outcomes["die"].status == "crashed"
    assert outcomes["die"].error == "the worker process was killed by SIGKILL (tried 2 times)"
    assert outcomes["hang"].status == "timeout" and 3 <= outcomes["hang"].seconds < 10
    assert outcomes["after"].status == "ok" and outcomes["after"].value["sum"] == 2


def test_a_child_that_died_idle_is_replaced_for_the_next_task():
    with ChildPool(1, env=ENV) as pool:
        (first,) = pool.run([task(0, "kill_later", 0.2)])
        time.sleep(1)
        (second,) = pool.run([task(1, "sleep", 0)])
    assert second.status == "ok" and second.value != first.value


def test_at_most_jobs_in_flight():
    pulled = []

    def tasks():
        for n in range(7):
            pulled.append(n)
            yield task(n, "sleep", 0.05)

    finished = 0
    with ChildPool(3, env=ENV) as pool:
        for outcome in pool.run(tasks()):
            finished += 1
            assert outcome.status == "ok"
            assert len(pulled) - finished <= 3 - 1  # the others still run
    assert finished == 7


@pytest.mark.parametrize("limits, function, args, distinct", [
    ({"max_tasks_per_child": 2}, "sleep", (0,), 3),
    ({"max_rss_mb": 80}, "grow", (100,), 5),
    ({"max_rss_mb": 1000}, "grow", (1,), 1),
])
def test_children_replaced_after_limits(limits, function, args, distinct):
    with ChildPool(1, env=ENV, **limits) as pool:
        outcomes = list(pool.run(task(n, function, *args) for n in range(5)))
    assert [o.status for o in outcomes] == ["ok"] * 5
    assert len({o.value for o in outcomes}) == distinct


def test_stop_interrupts_the_tasks_in_flight(tmp_path):
    markers = [tmp_path / ("m%d" % n) for n in range(2)]
    tasks = [task(n, "slow_then_clean", str(m), 60) for n, m in enumerate(markers)]
    tasks.append(task("never", "sleep", 0))
    start = time.monotonic()
    with ChildPool(2, env=ENV) as pool:
        outcomes = list(pool.run(tasks, stop=lambda: all(m.exists() for m in markers)))
    assert time.monotonic() - start < 15
    assert sorted((o.key, o.status) for o in outcomes) == [(0, "interrupted"),
                                                         (1, "interrupted")]
    assert not any(m.exists() for m in markers)  # each child unwound its own work


def test_a_child_that_cannot_start_is_an_error():
    with ChildPool(1, env=ENV, preload=("no_such_module_here",),
                   stderr=subprocess.DEVNULL) as pool:
        with pytest.raises(ChildPoolError, match="could not start"):
            list(pool.run([task(0, "sleep", 0)]))


def test_children_import_pymupdf_without_its_addons():
    """quorl depends on PyMuPDF's core only (pymupdf-lite): its children never load the layout
    analysis, onnxruntime, numpy or pymupdf4llm (they would triple each child's start-up time
    and memory)."""
    with ChildPool(1, env=ENV, preload=("quorl",)) as pool:
        (outcome,) = pool.run([task(0, "loaded", "pymupdf", "onnxruntime", "numpy")])
    assert "pymupdf" in outcome.value
    assert [name for name in outcome.value if not name.startswith("pymupdf.")
            and name != "pymupdf"] == []
    assert "pymupdf.layout" not in outcome.value


def test_own_timeouts_memory_cap_while_running_and_reported_retries(tmp_path):
    tasks = [("quick", "child_tasks:sleep", (30,), 2), task("slow but allowed", "sleep", 3),
             task("hungry", "grow_slowly", 400), task("die once", "die_once",
                                                      str(tmp_path / "died"))]
    with ChildPool(2, timeout=20, max_rss_mb=250, env=ENV, report_retries=True) as pool:
        outcomes = [(o.key, o.status, o.attempt, o.final) for o in pool.run(tasks)]
        errors = {o.key: o.error for o in pool.run([task("hungry", "grow_slowly", 400)])}
    assert sorted(outcomes) == [("die once", "crashed", 1, False), ("die once", "ok", 2, True),
                                ("hungry", "failed", 1, True), ("quick", "timeout", 1, True),
                                ("slow but allowed", "ok", 1, True)]
    assert errors["hungry"].startswith("needed more than 250 MB of memory")
