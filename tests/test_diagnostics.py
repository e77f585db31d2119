"""Where the quorl module's own diagnostics go while the package works on a patent."""
import logging
import threading

from quorl_mark import diagnostics


def test_diagnostics_are_routed_for_the_calling_thread_only(capsys, caplog):
    inside = threading.Event()
    leave = threading.Event()

    def quiet_worker():
        with diagnostics.module_diagnostics(verbose=False):
            print("hidden")
            logging.warning("hidden too")
            inside.set()
            leave.wait(5)

    worker = threading.Thread(target=quiet_worker)
    worker.start()
    inside.wait(5)
    print("shown")
    logging.warning("shown too")
    leave.set()
    worker.join()
    out = capsys.readouterr().out
    assert "shown" in out and "hidden" not in out
    assert [r.getMessage() for r in caplog.records] == ["shown too"]
