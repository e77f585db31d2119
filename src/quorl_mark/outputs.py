"""Writing a run's outputs all or nothing, without ever harming an input or a special file.

Every output is first written to a temporary file beside its target. Only when all are written
are they renamed into place, each replaced file kept as a hard-linked backup until the last
rename has succeeded: a failure or an interrupt (KeyboardInterrupt) in between puts every
replaced file back and removes every new one, every temporary file and every folder the run
created. A process killed outright (SIGKILL) between two renames can still leave some outputs
new and some old.
"""
import contextlib
import errno
import os
import stat
import tempfile

from .errors import JobError
from .inputs import kind_of_file


def current_umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


def file_system_type(path):
    """The type of the file system ``path`` lies on ("proc", "sysfs", "ext4", ...), from
    /proc/self/mountinfo; None where that cannot be read."""
    real = os.path.realpath(path)
    best, kind = "", None
    try:
        with open("/proc/self/mountinfo", encoding="utf-8", errors="replace") as f:
            for line in f:
                fields = line.split()
                if " - " not in line or len(fields) < 5:
                    continue
                point = fields[4].replace("\\040", " ")
                inside = real == point or real.startswith(point.rstrip("/") + "/")
                if inside and len(point) >= len(best):
                    best, kind = point, line.split(" - ", 1)[1].split()[0]
    except OSError:
        return None
    return kind


def _cannot_write(folder, error):
    """Why no file can be made in the existing folder ``folder``, in words."""
    if error.errno == errno.ENOENT and os.path.isdir(folder):
        kind = file_system_type(folder)
        return ("no file can be created in it: it lies on a%s file system, which holds only "
                "what the system puts there" % (" " + kind if kind else " virtual"))
    return "cannot write in it: %s" % (error.strerror or error)


def _same(a, b):
    if os.path.realpath(a) == os.path.realpath(b):
        return True
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


class Outputs:
    """The outputs of one run. ``inputs`` maps each input's label to its path; no output may be
    one of them. Use as a context manager: leaving it without ``commit`` undoes what was done."""

    def __init__(self, inputs=()):
        self._inputs = list(inputs)  # (label, path)
        self._claimed = []  # (label, real path) of every output so far
        self._created_dirs = []
        self._staged = []  # (temporary path, real target path)

    # --- checks, before any work -------------------------------------------------------------

    def target(self, path, label):
        """The real path an output file named ``path`` is written to (through a symlink to its
        target), refused when that is an input, another output or not a regular file. ``label``
        names the output in messages, as "-o" does."""
        name = "%s %s" % (label, path)
        real = os.path.realpath(path)
        try:
            # The path itself, followed as open() follows it: /dev/stdout leads to the pipe or
            # terminal behind it, where its resolved name under /proc is no file at all.
            mode = os.stat(path).st_mode
        except FileNotFoundError:
            mode = None
        except OSError as e:
            raise JobError(name, "write", "cannot use it: %s" % (e.strerror or e)) from None
        if mode is not None and stat.S_ISDIR(mode):
            raise JobError(name, "write", "is a directory")
        if mode is not None and not stat.S_ISREG(mode):
            hint = "; give '-' to write to standard output" \
                if label in ("-o", "--marks-out") else ""
            raise JobError(name, "write", "exists and is %s; refusing to replace it%s"
                           % (kind_of_file(mode), hint))
        for other_label, other in self._inputs:
            if _same(path, other):
                raise JobError(name, "write", "the same file as the input %s %s; refusing to "
                               "overwrite an input" % (other_label, other))
        for other_label, other in self._claimed:
            if other == real and other_label == label:
                return real  # checked before the work began, now written
            if _same(real, other):
                raise JobError(name, "write", "the same file as %s" % other_label)
        self._claimed.append((label, real))
        return real

    def folder(self, path, label):
        """Creates the folder ``path`` when missing and makes sure files can be written there;
        a folder created here is removed again when the run does not commit."""
        name = "%s %s" % (label, path)
        path = os.path.abspath(path)
        if os.path.exists(path) and not os.path.isdir(path):
            raise JobError(name, "write", "exists and is not a directory")
        missing = []
        head = path
        while not os.path.exists(head):
            missing.append(head)
            head = os.path.dirname(head)
        try:
            for folder in reversed(missing):
                os.mkdir(folder)
                self._created_dirs.append(folder)
            fd, probe = tempfile.mkstemp(prefix=".quorl-probe.", dir=path)
            os.close(fd)
            os.unlink(probe)
        except OSError as e:
            if os.path.isdir(path) and path not in missing:
                raise JobError(name, "write", _cannot_write(path, e)) from None
            if missing and e.errno == errno.ENOENT and os.path.isdir(head):
                raise JobError(name, "write", "cannot create it: the folder %s: %s"
                               % (head, _cannot_write(head, e))) from None
            raise JobError(name, "write", "cannot create it or write in it: %s"
                           % (e.strerror or e)) from None
        return path

    # --- staging and committing --------------------------------------------------------------

    def stage(self, path, data, label="output"):
        """Writes ``data`` to a temporary file beside the output ``path``."""
        real = self.target(path, label)
        self.folder(os.path.dirname(real), "the folder of")
        try:
            fd, temp = tempfile.mkstemp(prefix="." + os.path.basename(real) + ".",
                                        suffix=".part", dir=os.path.dirname(real))
        except OSError as e:
            raise JobError(path, "write", "cannot write it: %s" % (e.strerror or e)) from None
        self._staged.append((temp, real, path))
        try:
            with os.fdopen(fd, "wb") as f:
                f.write(data)
                f.flush()
                os.fsync(f.fileno())
            os.chmod(temp, 0o666 & ~current_umask())
        except OSError as e:
            raise JobError(path, "write", "cannot write it: %s" % (e.strerror or e)) from None

    def commit(self):
        """Renames every staged file into place, or none of them."""
        done = []  # (target, backup or None) of the files already in place
        given = None
        try:
            for temp, target, given in self._staged:
                backup = self._backup(target) if os.path.lexists(target) else None
                try:
                    os.replace(temp, target)
                except BaseException:
                    self._put_back(target, backup, replaced=False)
                    raise
                done.append((target, backup))
        except BaseException as e:
            for target, backup in reversed(done):
                self._put_back(target, backup, replaced=True)
            if isinstance(e, OSError):
                raise JobError(given, "write", "cannot write it: %s" % (e.strerror or e)) from None
            raise
        for _, backup in done:
            if backup:
                with contextlib.suppress(OSError):
                    os.unlink(backup[0])
        self._staged = []
        self._created_dirs = []

    def _backup(self, target):
        """(backup path, whether it is a second link): the file ``target`` names, kept."""
        folder, name = os.path.split(target)
        fd, backup = tempfile.mkstemp(prefix="." + name + ".", suffix=".old", dir=folder)
        os.close(fd)
        os.unlink(backup)
        try:
            os.link(target, backup)
            return backup, True
        except OSError:  # a file system without hard links: move it aside instead
            os.rename(target, backup)
            return backup, False

    @staticmethod
    def _put_back(target, backup, replaced):
        with contextlib.suppress(OSError):
            if backup is None:
                if replaced:
                    os.unlink(target)
            elif replaced or not backup[1]:
                os.rename(backup[0], target)
            else:
                os.unlink(backup[0])

    def abandon(self):
        """Removes every temporary file and every folder this run created."""
        for temp, _, _ in self._staged:
            with contextlib.suppress(OSError):
                os.unlink(temp)
        self._staged = []
        for folder in reversed(self._created_dirs):
            with contextlib.suppress(OSError):
                os.rmdir(folder)
        self._created_dirs = []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.abandon()
        return False
