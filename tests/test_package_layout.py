"""The quorl_mark package's import graph, read from its source with ast: every import counts,
those inside functions included, so a late import cannot hide a circle. The graph has no circle
and points one way, from the command lines down to the modules every part shares."""
import ast
import pathlib

import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[1] / "src" / "quorl_mark"

# Highest first. A module belongs to the room of the longest prefix that names it (the package
# itself only by its exact name). A module may import modules of its own room and of any lower
# layer; the rooms of the command lines, and the shared modules, may also use one another, but
# one capability never reaches into another of its layer.
LAYERS = [
    ("the command lines", ["quorl_mark", "quorl_mark.__main__", "quorl_mark.commands"]),
    ("the capabilities built on the job", ["quorl_mark.batch", "quorl_mark.extract"]),
    ("the per-patent job", ["quorl_mark.job"]),
    ("the capabilities the job runs", ["quorl_mark.ocr", "quorl_mark.review"]),
    ("the shared modules", ["quorl_mark.inputs", "quorl_mark.outputs", "quorl_mark.errors",
                            "quorl_mark.vocabulary", "quorl_mark.diagnostics",
                            "quorl_mark.children", "quorl_mark.worker",
                            "quorl_mark.anchoring"]),
]
OPEN_LAYERS = {0, len(LAYERS) - 1}


def module_names(root):
    """Dotted module name -> source file, for every module of the package under ``root``."""
    names = {}
    for path in sorted(root.rglob("*.py")):
        parts = list(path.relative_to(root.parent).with_suffix("").parts)
        if parts[-1] == "__init__":
            parts.pop()
        names[".".join(parts)] = path
    return names


def imports_of(name, path, known):
    """The package's modules that module ``name`` imports, anywhere in its body."""
    is_package = path.name == "__init__.py"
    found = set()

    def add(target):
        while target and target not in known:  # "a.b.func" names module a.b
            target = target.rpartition(".")[0]
        if target and target != name:
            found.add(target)

    for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"), str(path))):
        if isinstance(node, ast.Import):
            for alias in node.names:
                add(alias.name)
        elif isinstance(node, ast.ImportFrom):
            if node.level:
                package = name.split(".")
                drop = node.level - 1 if is_package else node.level
                base = ".".join(package[:len(package) - drop] + ([node.module] if node.module
                                                                 else []))
            else:
                base = node.module
            for alias in node.names:
                add(base + "." + alias.name if base + "." + alias.name in known else base)
    return found


def import_graph(root):
    known = module_names(root)
    return {name: imports_of(name, path, known) for name, path in known.items()}


def room_of(name):
    """(layer, room) of a module, or None when no layer names it."""
    best = None
    for layer, (_, rooms) in enumerate(LAYERS):
        for room in rooms:
            if name == room or (room != "quorl_mark" and name.startswith(room + ".")):
                if best is None or len(room) > len(best[1]):
                    best = (layer, room)
    return best


def circle(graph):
    """One import circle of ``graph`` as a list of modules, or None."""
    state = {}

    def visit(name, path):
        state[name] = "open"
        path.append(name)
        for target in sorted(graph[name]):
            if state.get(target) == "open":
                return path[path.index(target):] + [target]
            if target not in state:
                found = visit(target, path)
                if found:
                    return found
        path.pop()
        state[name] = "done"
        return None

    for name in sorted(graph):
        if name not in state:
            found = visit(name, [])
            if found:
                return found
    return None


def upward_imports(graph):
    wrong = []
    for name, targets in graph.items():
        layer, room = room_of(name)
        for target in targets:
            target_layer, target_room = room_of(target)
            if target_room == room or target_layer > layer or (
                    target_layer == layer and layer in OPEN_LAYERS):
                continue
            wrong.append("%s (%s) imports %s (%s)" % (name, LAYERS[layer][0], target,
                                                      LAYERS[target_layer][0]))
    return sorted(wrong)


@pytest.fixture(scope="module")
def graph():
    return import_graph(SOURCE)


def test_every_module_has_a_layer(graph):
    assert [name for name in graph if room_of(name) is None] == []


def test_the_package_has_no_import_circle(graph):
    assert circle(graph) is None


def test_imports_point_from_the_commands_down(graph):
    assert upward_imports(graph) == []


def write_package(root, files):
    for relative, text in files.items():
        path = root / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)
    return root


@pytest.mark.parametrize("files, expected", [
    # A circle closed by an import inside a function.
    ({"quorl_mark/__init__.py": "", "quorl_mark/job.py": "from .ocr import run\n",
      "quorl_mark/ocr/__init__.py": "",
      "quorl_mark/ocr/run.py": "def f():\n    from ..job import open_pdf\n"},
     ["quorl_mark.job", "quorl_mark.ocr.run", "quorl_mark.job"]),
    # An absolute import, a "from package import module" and a package's own relative import.
    ({"quorl_mark/__init__.py": "from .batch import mark_batch\n",
      "quorl_mark/batch/__init__.py": "from .runner import mark_batch\n",
      "quorl_mark/batch/runner.py": "import quorl_mark\n"},
     ["quorl_mark", "quorl_mark.batch", "quorl_mark.batch.runner", "quorl_mark"]),
    ({"quorl_mark/__init__.py": "", "quorl_mark/a.py": "from quorl_mark import b\n",
      "quorl_mark/b.py": "import os\nfrom . import errors\n", "quorl_mark/errors.py": ""},
     None),
])
def test_circles_are_found_through_every_kind_of_import(tmp_path, files, expected):
    assert circle(import_graph(write_package(tmp_path, files) / "quorl_mark")) == expected


def test_an_upward_import_is_named(tmp_path):
    root = write_package(tmp_path, {
        "quorl_mark/__init__.py": "", "quorl_mark/job.py": "",
        "quorl_mark/errors.py": "def f():\n    from . import job\n",
        "quorl_mark/ocr/__init__.py": "", "quorl_mark/ocr/page.py": "from .. import errors\n",
        "quorl_mark/review/__init__.py": "", "quorl_mark/review/page.py": "from ..ocr import page\n"})
    assert upward_imports(import_graph(root / "quorl_mark")) == [
        "quorl_mark.errors (the shared modules) imports quorl_mark.job (the per-patent job)",
        "quorl_mark.review.page (the capabilities the job runs) imports quorl_mark.ocr.page "
        "(the capabilities the job runs)"]
