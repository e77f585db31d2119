"""The error a per-patent job raises: which file, at which stage, and why, in one line."""

# The stages of one patent's job, in the order they run.
STAGES = ("arguments", "read", "ocr", "html", "pdf", "match", "place", "draw", "render", "write")


class JobError(Exception):
    """A patent that cannot be marked as asked.

    ``file`` is the path (or name) of the input or output at fault, or None when the fault is
    not one file's; ``stage`` is one of STAGES; ``reason`` is one line for a person to read.
    ``str()`` gives "FILE: REASON", the form the commands print.
    """

    def __init__(self, file, stage, reason):
        if stage not in STAGES:
            raise ValueError("unknown stage %r" % (stage,))
        self.file = None if file is None else str(file)
        self.stage = stage
        self.reason = " ".join(str(reason).split())
        super().__init__(self.file, stage, self.reason)

    def __str__(self):
        return self.reason if self.file is None else "%s: %s" % (self.file, self.reason)

    def __reduce__(self):
        return type(self), (self.file, self.stage, self.reason)


def one_line(error):
    """An exception as "Type: message" on one line, for errors that come from a library."""
    text = " ".join(str(error).split())
    return "%s: %s" % (type(error).__name__, text) if text else type(error).__name__


def page_ranges(numbers):
    """Page numbers as a message says them: "3, 6-9" for 3, 6, 7, 8 and 9, in any order."""
    runs = []
    for number in sorted(numbers):
        if runs and number == runs[-1][1] + 1:
            runs[-1][1] = number
        else:
            runs.append([number, number])
    return ", ".join(str(a) if a == b else "%d-%d" % (a, b) for a, b in runs)
