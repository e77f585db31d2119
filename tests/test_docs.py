"""The documentation holds to the commands: every option a command's --help lists is on the
command's page in docs/, the README stays a front page, its links lead somewhere and its
examples run as they are written."""
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

from quorl_mark.commands import batch, extract, mark, text

ROOT = pathlib.Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
COMMANDS = {"quorl-mark": mark, "quorl-batch": batch, "quorl-text": text,
            "quorl-extract": extract}
EXAMPLE = "<!-- example -->"


def options_of(module):
    return [option for action in module.build_parser()._actions
            for option in action.option_strings]


@pytest.mark.parametrize("name", sorted(COMMANDS))
def test_every_option_of_a_command_is_on_its_page(name):
    page = (ROOT / "docs" / (name + ".md")).read_text(encoding="utf-8")
    missing = [option for option in options_of(COMMANDS[name])
               if not re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(option), page)]
    assert not missing, "docs/%s.md does not mention %s" % (name, ", ".join(missing))


def test_the_readme_is_a_front_page_whose_links_lead_somewhere():
    lines = README.read_text(encoding="utf-8").splitlines()
    assert len(lines) <= 150, "README.md has %d lines; move details into docs/" % len(lines)
    links = re.findall(r"\]\(([^)#]+)(?:#[^)]*)?\)", "\n".join(lines))
    broken = [link for link in links if not (ROOT / link).exists()]
    assert links and not broken, broken


def readme_examples():
    """The shell blocks of the README that follow an example marker, in order."""
    text = README.read_text(encoding="utf-8")
    return re.findall(re.escape(EXAMPLE) + r"\s*```sh\n(.*?)```", text, re.S)


def test_the_readme_examples_run_in_a_copy_of_the_examples(tmp_path):
    blocks = readme_examples()
    assert len(blocks) >= len(COMMANDS)
    shutil.copytree(ROOT / "examples", tmp_path / "examples")
    env = dict(os.environ, PATH=os.path.dirname(sys.executable) + os.pathsep
               + os.environ.get("PATH", ""))
    for block in blocks:  # later ones use what earlier ones wrote (quorl-extract, marked.pdf)
        proc = subprocess.run(["bash", "-e", "-c", block], cwd=tmp_path,
                              env=env, capture_output=True, text=True, timeout=600)
        assert proc.returncode == 0, (block, proc.stdout[-2000:], proc.stderr[-2000:])
        assert "Traceback" not in proc.stderr, proc.stderr
    assert (tmp_path / "marked.pdf").stat().st_size > 0
    assert (tmp_path / "marked-patents" / "report.jsonl").exists()
