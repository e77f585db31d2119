"""quorl-mark and quorl-extract on damaged PDFs and on inputs that are not files: refused with
the file named and what is wrong with it, never marked wrongly with exit 0, never read until the
memory runs out."""
import json
import os
import random
import subprocess

import pymupdf
import pytest

from careless_use import BIN, command, patent_folder, refused


@pytest.fixture(scope="module")
def work(tmp_path_factory):
    folder = tmp_path_factory.mktemp("damaged")
    patent, _ = patent_folder(folder)
    proc = command("quorl-mark", folder / "p.html", folder / "p.pdf", folder / "m.json",
                   "-o", folder / "clean.pdf", "--marks-out", folder / "clean.json")
    assert proc.returncode == 0, proc.stderr
    return folder, patent


def content_stream_damaged(pdf, page_number):
    """The PDF with one bit flipped in the middle of the compressed content of one page: it
    opens without a repair, and only reading that page's text finds the damage."""
    doc = pymupdf.open("pdf", pdf)
    raw = doc.xref_stream_raw(doc[page_number].get_contents()[0])
    at = pdf.index(raw) + len(raw) // 2
    return pdf[:at] + bytes([pdf[at] ^ 0x10]) + pdf[at + 1:]


class TestDamagedPdf:
    @pytest.mark.parametrize("name", ["quorl-mark", "quorl-extract"])
    def test_damage_found_when_a_page_is_read_names_the_file(self, work, name):
        folder, patent = work
        (folder / "late.pdf").write_bytes(content_stream_damaged(patent.pdf, 2))
        args = [folder / "p.html", folder / "late.pdf"] + \
            ([folder / "m.json"] if name == "quorl-mark" else []) + ["-o", folder / "o.json"]
        err = refused(folder, name, *args)
        assert "late.pdf: the PDF is damaged" in err and "MuPDF reported" in err
        assert "zlib" in err or "syntax" in err

    def test_mupdf_reports_show_only_with_verbose(self, work):
        folder, patent = work
        (folder / "late.pdf").write_bytes(content_stream_damaged(patent.pdf, 2))
        args = [folder / "p.html", folder / "late.pdf", folder / "m.json", "-o", folder / "o"]
        quiet, verbose = command("quorl-mark", *args), command("quorl-mark", *args, "-v")
        assert b"MuPDF" not in quiet.stderr.split(b"error: ")[0]
        assert quiet.stderr.count(b"\n") == 1
        assert verbose.returncode == 1 and b"quorl: MuPDF: " in verbose.stderr
        assert b"MuPDF error:" not in verbose.stderr

    def test_flipped_bits_are_refused_or_change_nothing(self, work):
        """Five bits flipped anywhere: either the PDF is refused, naming it, or the marks come
        out exactly as from the sound PDF."""
        folder, patent = work
        clean = (folder / "clean.json").read_bytes()
        outcomes = set()
        for seed in range(8):
            rnd, data = random.Random(seed), bytearray(patent.pdf)
            for _ in range(5):
                data[rnd.randrange(len(data))] ^= 1 << rnd.randrange(8)
            (folder / "f.pdf").write_bytes(bytes(data))
            proc = command("quorl-mark", folder / "p.html", folder / "f.pdf", folder / "m.json",
                           "-o", folder / "f-out.pdf", "--marks-out", folder / "f.json",
                           "--ocr", "never")
            err = proc.stderr.decode()
            if proc.returncode == 0:
                assert (folder / "f.json").read_bytes() == clean, (seed, err)
                outcomes.add("same")
            else:
                assert proc.returncode == 1 and err.count("\n") == 1, (seed, err)
                assert "f.pdf: " in err and "unexpected failure" not in err, (seed, err)
                outcomes.add("refused")
        assert "refused" in outcomes


class TestNotAFile:
    def test_a_device_is_refused_without_reading_it(self, work):
        folder, _ = work
        err = refused(folder, "quorl-mark", "/dev/zero", folder / "p.pdf", folder / "m.json",
                      "-o", folder / "o.pdf")
        assert "/dev/zero: is a character device, not a regular file" in err

    def test_a_pipe_is_read_as_a_shell_passes_one(self, work, tmp_path):
        folder, _ = work
        proc = subprocess.run(["bash", "-c", 'quorl-text --json <(cat "$0")', folder / "p.html"],
                              capture_output=True, env=dict(os.environ, PATH=BIN + os.pathsep + os.environ["PATH"]))
        assert proc.returncode == 0, proc.stderr
        assert json.loads(proc.stdout)["text"] == json.loads(
            command("quorl-text", "--json", folder / "p.html").stdout)["text"]

    def test_an_endless_pipe_stops_at_the_size_limit(self, work, tmp_path):
        folder, _ = work
        proc = subprocess.run(["bash", "-c", 'quorl-text <(cat "$0" /dev/zero)',
                               folder / "p.html"], capture_output=True,
                              env=dict(os.environ, PATH=BIN + os.pathsep + os.environ["PATH"]))
        assert proc.returncode == 1
        assert "grew beyond the 64 MB an input of its kind may be" in proc.stderr.decode()

    def test_a_file_beyond_the_size_limit_is_refused_unread(self, work, tmp_path):
        folder, _ = work
        huge = tmp_path / "huge.json"
        with open(huge, "wb") as f:
            f.truncate(65_000_000)  # sparse: no disk, no time
        err = refused(tmp_path, "quorl-mark", folder / "p.html", folder / "p.pdf", huge, "-o",
                      tmp_path / "o.pdf")
        assert "huge.json: is 65 MB, larger than the 64 MB" in err
        assert "64 MB for an HTML" in command("quorl-mark", "--help").stdout.decode()
