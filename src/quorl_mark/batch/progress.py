"""Progress of a batch on standard error: a tqdm bar on a terminal, else (a cluster job's log) a
plain line every few seconds; nothing when quiet. Messages go through ``write`` so that they
never break the bar."""
import sys
import time

from tqdm import tqdm


class Progress:
    def __init__(self, prog, total, quiet=False, every=5.0):
        self.prog = prog
        self.total = total
        self.quiet = quiet
        self.every = every
        self.done = 0
        self.failed = 0
        self.start = time.monotonic()
        self._last_line = self.start
        self.bar = tqdm(total=total, unit="patent", disable=True if quiet else None,
                        file=sys.stderr, dynamic_ncols=True)
        self.plain = not quiet and self.bar.disable

    def rate(self):
        elapsed = time.monotonic() - self.start
        return self.done / elapsed if elapsed > 0 else 0.0

    def update(self, failed):
        self.done += 1
        self.failed += bool(failed)
        if not self.bar.disable:
            self.bar.set_postfix(failed=self.failed, refresh=False)
            self.bar.update()
        elif self.plain and time.monotonic() - self._last_line >= self.every:
            self._last_line = time.monotonic()
            print(self.line(), file=sys.stderr, flush=True)

    def line(self):
        rate = self.rate()
        text = "%s: %d" % (self.prog, self.done)
        if self.total is not None:
            text += " of %d" % self.total
        text += " done, %d failed, %.1f patents/s" % (self.failed, rate)
        if self.total is not None and rate > 0:
            text += ", %d s left" % round(max(0, self.total - self.done) / rate)
        return text

    def write(self, message):
        tqdm.write(message, file=sys.stderr)

    def close(self):
        self.bar.close()
