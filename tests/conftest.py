"""Set-up shared by every test module."""
import signal


def pytest_configure(config):
    # A shell starts a background job with Ctrl-C ignored, and the commands the tests start
    # would inherit that: the tests that interrupt a command with SIGINT need it to arrive as it
    # does from a terminal.
    if signal.getsignal(signal.SIGINT) == signal.SIG_IGN:
        signal.signal(signal.SIGINT, signal.default_int_handler)
