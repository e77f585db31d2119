"""The commands run as a user runs them, on one generated patent with a mark of every kind:
what the tests of careless and hostile use share."""
import json
import os
import pathlib
import stat
import subprocess
import sys

import patents
from patent_files import spread_marks

BIN = os.path.dirname(sys.executable)


def command(name, *args, **options):
    """quorl-mark, quorl-extract or quorl-text run with ``args``; the CompletedProcess."""
    return subprocess.run([os.path.join(BIN, name), *map(str, args)], capture_output=True,
                          timeout=300, **options)


def snapshot(folder):
    """Every entry of the folder with its kind and content, to compare before and after."""
    out = {}
    for root, _, files in os.walk(folder):
        for entry in files:
            path = os.path.join(root, entry)
            mode = os.lstat(path).st_mode
            content = pathlib.Path(path).read_bytes() if stat.S_ISREG(mode) else None
            out[os.path.relpath(path, folder)] = (stat.S_IFMT(mode), content)
    return out


def refused(folder, name, *args, status=1):
    """Runs the command, which must refuse with one line on standard error and change nothing
    in ``folder``; returns that line."""
    before = snapshot(folder)
    proc = command(name, *args)
    err = proc.stderr.decode("utf-8", "replace")
    assert proc.returncode == status, (proc.returncode, err)
    if status == 1:
        assert err.startswith("%s: error: " % name) and err.count("\n") == 1, err
    assert "Traceback" not in err and "unexpected failure" not in err, err
    assert snapshot(folder) == before
    return err


def patent_folder(folder, seed=3):
    """Writes p.html, p.pdf and m.json (a mark of every kind, two of each) into ``folder``;
    returns the generated patent and the marks."""
    patent = patents.generate_patent(seed, figures=1)
    marks = spread_marks(patent.html)
    (folder / "p.html").write_text(patent.html, encoding="utf-8")
    (folder / "p.pdf").write_bytes(patent.pdf)
    (folder / "m.json").write_text(json.dumps(marks), encoding="utf-8")
    return patent, marks
