"""The whole published surface: every name in binding order, classes and their methods, each
function's parameters and defaults, the docstrings, and the type stubs shipped beside the module.
"""
import abc
import ast
import difflib
import functools
import logging
import math
import pathlib
import re

import bs4
import pymupdf
import pytest

import quorl

NBSP = "'\\xa0'"
KINDS = "['abstract', 'claims', 'descriptions', 'seqs', 'drawings']"

# name -> (kind, base, {method: parameters}) for classes; (kind, parameters) for functions.
# Parameters are (name, default repr or None); "*args"/"**kargs" stand for variadic ones.
SURFACE = [
    ("PatentConverter", "class", None, {
        "__init__": [("self", None), ("htmldoc", None), ("pdfdoc", None), ("difflist", "[]")],
        "_PatentConverter__init_mapper": [("self", None)],
        "get_pdf_info": [("self", None)],
        "get_html_info": [("self", None)],
        "convert_mark_html2pdf": [("self", None), ("minfo", None)],
        "mark_pdf": [("self", None), ("marklist", None)],
        "mark_html": [("self", None), ("htmlinfo", None)],
    }),
    ("html_format", "function", [("htmlcontent", None)]),
    ("get_patent_converter", "function",
     [("htmlcontent", None), ("pdfcontent", None), ("difflist", "[]")]),
    ("pdf_marker", "function", [("patdoc", None), ("htmlmarklist", None)]),
    ("PdfDocument", "class", None, {
        "__init__": [("self", None), ("pdfdoc", None), ("markerdict", "{}")],
        "get_page_info": [("self", None)],
        "pageinfoparser": [("self", None)],
        "calclinesrange": [("self", None), ("lineslist", None)],
        "sortlines": [("self", None), ("page", None), ("rawlineslist", None)],
        "get_content_by_margin": [("self", None), ("page", None), ("margin", None)],
        "parse_lines": [("self", None), ("page", None), ("margin", None)],
        "parse_content": [("self", None), ("contentdict", None)],
        "get_lines": [("self", None), ("typelist", KINDS)],
        "get_content": [("self", None), ("typelist", KINDS)],
        "get_text": [("self", None), ("typelist", KINDS)],
        "getpageimages": [("self", None), ("num", None)],
        "addrect": [("self", None), ("lines", None)],
        "getcontentposition": [("self", None), ("pstart", None), ("pend", None), ("fix", NBSP)],
        "make_mark": [("self", None), ("mark", None)],
        "get_marked_file": [("self", None), ("marklist", None)],
    }),
    ("ImageInfoParser", "class", None, {
        "__init__": [("self", None), ("name", "['img']"), ("attrs", "{}")],
        "mark": [("self", None), ("soup", None)],
    }),
    ("ItemInfoParser", "class", None, {
        "__init__": [("self", None), ("name", "None"), ("attrs", "{}")],
        "mark": [("self", None), ("soup", None)],
    }),
    ("ContentParser", "class", None, {
        "__init__": [("self", None), ("content", None), ("parserdict", "{}")],
        "get_content": [("self", None), ("content", None)],
        "__str__": [("self", None)],
    }),
    ("HtmlDocument", "class", None, {
        "__init__": [("self", None), ("content", None), ("parserlist", "[]")],
        "_html_format": [("self", None), ("html", None)],
        "_get_content_with_break": [("self", None), ("soup", None)],
        "get_content": [("self", None), ("rawcontent", None)],
        "get_text": [("self", None), ("tag", "None")],
        "get_mark_content": [("self", None)],
        "info_index_parser": [("self", None), ("markcontent", None), ("pos", "0")],
        "parse_info": [("self", None), ("infolist", "{}"), ("rawcontent", "''")],
        "set_info": [("self", None), ("info", "None")],
        "delete": [("self", None)],
    }),
    ("_add_highlight_mark", "function", [("page", None), ("rectlist", None), ("hinfo", None)]),
    ("_add_num_mark", "function", [("page", None), ("rect", None), ("ninfo", None),
                                   ("tsize", "9"), ("tcolor", "(1, 0, 0)"),
                                   ("fcolor", "(1, 1, 1)")]),
    ("_add_flag_mark", "function", [("page", None), ("rect", None), ("ninfo", None),
                                    ("tsize", "10"), ("tcolor", "(0, 0, 0)"),
                                    ("fcolor", "(1, 1, 1)")]),
    ("Marker", "class", None, {
        "__init__": [("self", None), ("title", None), ("content", None), ("position", None),
                     ("info", "''")],
        "__str__": [("self", None)],
        "setmarker": [("self", None), ("info", None)],
        "getmarker": [("self", None)],
        "addmarker": [("self", None), ("pdfdoc", None)],
    }),
] + [
    (name, "class", "Marker", dict(
        ({"__init__": [("self", None), ("*args", None), ("**kargs", None)]}
         if name.startswith("Img") else {}),
        setmarker=[("self", None), ("info", None)], getmarker=[("self", None)],
        addmarker=[("self", None), ("pdfdoc", None)]))
    for name in ["CTHMarker", "PARMarker", "ImgPARMarker", "ImgIGMarker", "FlagMarker"]
] + [
    ("check_span", "function", [("length", None), ("a_length", None), ("b_length", None)]),
    ("get_relation_by_line", "function", [("linenumber", None), ("mapper", None)]),
    ("get_relation_list", "function", [("mapper", None)]),
    ("span_binary_search", "function", [("spanlist", None), ("value", None),
                                        ("exact", "False")]),
    ("convert_span_a2b", "function", [("sa", None), ("spandiff", None)]),
    ("convert_position_a2b", "function", [("posa", None), ("spandiff", None)]),
    ("convert_span2lines", "function", [("span", None), ("lineindex", None)]),
    ("get_span_text", "function", [("span", None), ("text", None)]),
    ("PositionMapper", "class", None, {
        "__init__": [("self", None), ("a_list", None), ("b_list", None)],
        "get_line_index": [("self", None), ("lengthlist", None)],
        "compare": [("self", None)],
        "get_relation_format": [("self", None), ("difflist", "[]"), ("interval", "1")],
        "get_relation_split_line": [("self", None), ("difflist", "[]"), ("linebreak", "False")],
        "getdiffviewtext": [("self", None)],
    }),
    # Helpers of quorl_mark's annotation reading, bound after the published names.
    ("_text_under_quads", "function", [("lines", None), ("offsets", None),
                                       ("quad_groups", None), ("fallback_points", None),
                                       ("hidden", None)]),
    ("_glyphs_not_on_page", "function", [("lines", None), ("rawdict", None),
                                         ("tolerance", None)]),
]

IMPORTS = [("logging", logging), ("math", math), ("re", re), ("ABCMeta", abc.ABCMeta),
           ("abstractmethod", abc.abstractmethod), ("reduce", functools.reduce),
           ("fitz", pymupdf), ("BeautifulSoup", bs4.BeautifulSoup),
           ("SoupStrainer", bs4.SoupStrainer)]


def doc(lines, indent, tail):
    return "".join("\n" + " " * indent + line for line in lines) + "\n" + " " * tail


def method_doc(*lines):
    return doc(lines, 8, 8)


# (owner or None, function) -> exact __doc__; every other function's __doc__ is None.
DOCS = {
    (None, "pdf_marker"): doc(
        ["{'type':'par','title':'1','content':'hello','start':3705,'end':3710}"], 4, 4),
    ("PdfDocument", "get_content_by_margin"): method_doc("根据区域获取文本内容"),
    ("PdfDocument", "parse_lines"): method_doc("根据区域获取图片和文本"),
    ("PdfDocument", "parse_content"): method_doc("根据词典获取对应内容"),
    ("PdfDocument", "getcontentposition"): method_doc("根据pdf文本list和par的坐标获取par所在行"),
    ("PdfDocument", "make_mark"): method_doc("标注内容"),
    ("PdfDocument", "get_marked_file"): method_doc("获取标注pdf文件"),
    ("HtmlDocument", "_get_content_with_break"): method_doc("根据html获取分段的文本"),
    ("HtmlDocument", "get_content"): method_doc("根据不同的内容parser获取对应的内容"),
    ("HtmlDocument", "get_mark_content"): method_doc(
        "获取标注的html，其中每个文本内容元素都包含位置信息，图片中的元素包含pdf位置信息",
        "步骤：", "1，获取相关文本信息", "2，相关文本与pdf文本进行匹配",
        "3，根据匹配信息，得到每个文本单元，以及图片的pdf信息", "4，根据匹配的信息，在html元素中添加pdf位置信息"),
    ("HtmlDocument", "info_index_parser"): method_doc("根据标注文本获取对应标注信息"),
    ("HtmlDocument", "parse_info"): method_doc("根据不同的信息parser获取对应的信息"),
    ("HtmlDocument", "set_info"): method_doc("在html中设置对应信息"),
    # The alignment functions document themselves with a bare final line break.
    (None, "check_span"): doc(["输入：共同长度，a长度，b长度", "输出：是否匹配"], 4, 0),
    (None, "span_binary_search"): doc(["根据值查找大致区间", "查找小于value值的最大区间"], 4, 0),
    (None, "convert_span_a2b"): doc(
        ["将a的字符范围转为b的字符范围", "输入：a的字符范围", "输出：b的字符范围"], 4, 0),
    (None, "convert_position_a2b"): doc(["根据a的位置找到b的位置"], 4, 0),
    (None, "convert_span2lines"): doc(["span转为行"], 4, 0),
    (None, "get_span_text"): "根据文本的坐标获取文本内容",
    (None, "get_relation_by_line"): doc(["输入：a的行号，对应关系", "输出，对应b的行号"], 4, 0),
    (None, "get_relation_list"): doc(["输入：对应关系", "输出：对应列表"], 4, 0),
    ("PositionMapper", "get_line_index"): doc(["根据长度计算字符的起始位置"], 8, 0),
    ("PositionMapper", "get_relation_format"): doc(
        ["合并相邻的span区间，最小合并间隔为interval"], 8, 0),
    ("PositionMapper", "get_relation_split_line"): doc(
        ["返回：[(a段号,a开始,a结束),(b段号,b开始,b结束)]"], 8, 0),
}


def functions():
    """(owner, name, function object, expected parameters) for every function of the table."""
    for entry in SURFACE:
        if entry[1] == "function":
            yield None, entry[0], getattr(quorl, entry[0]), entry[2]
        else:
            cls = getattr(quorl, entry[0])
            for method, params in entry[3].items():
                yield entry[0], method, cls.__dict__[method], params


def split_top_level(text):
    parts, depth, quote, current = [], 0, None, ""
    for ch in text:
        if quote:
            quote = None if ch == quote else quote
        elif ch in "'\"":
            quote = ch
        elif ch in "([{":
            depth += 1
        elif ch in ")]}":
            depth -= 1
        elif ch == "," and depth == 0:
            parts.append(current.strip())
            current = ""
            continue
        current += ch
    if current.strip():
        parts.append(current.strip())
    return parts


def parameters(function):
    """The parameters a compiled function reports when it is called without arguments."""
    with pytest.raises(TypeError) as info:
        function()
    message = str(info.value)
    match = re.search(r"^\s+1\. \((.*)\) -> ", message, re.M)
    assert match, message
    out = []
    for part in split_top_level(match.group(1)):
        if part.startswith("*"):
            star = "**" if part.startswith("**") else "*"
            out.append((star + ("kargs" if star == "**" else "args"), None))
            continue
        name, _, rest = part.partition(":")
        default = rest.partition(" = ")[2] or None
        out.append((name.strip(), default))
    return out


# Helpers of the quorl_mark package, bound after the published names under underscore names.
PACKAGE_HELPERS = ["_find_rules", "_ink_boxes",  # quorl_mark.ocr.page
                   "_has_blot",  # quorl_mark.ocr.blank
                   "_raw_text_of_page",  # tests/test_pdf_raw_text.py
                   "_realigned_opcodes",  # quorl_mark.review.views
                   "_opcodes",  # quorl_mark.anchoring.dom_text
                   "_drawing_session",  # quorl_mark.job
                   "_direct_highlights",  # tests/test_direct_highlights.py
                   "_phrase_index", "_phrase_occurrences", "_phrase_folded",
                   "_place_phrases"]  # quorl_mark.anchoring


def public_names():
    return [k for k in vars(quorl) if not (k.startswith("__") and k.endswith("__"))]


class TestNames:
    def test_every_name_in_binding_order(self):
        expected = [name for name, _ in IMPORTS]
        for entry in SURFACE:
            if entry[0] == "check_span":
                expected.append("difflib")
            expected.append(entry[0])
        assert public_names() == expected + PACKAGE_HELPERS

    def test_test_dict_is_bound_last_and_empty(self):
        names = list(vars(quorl))
        assert names[-1] == "__test__"
        assert type(quorl.__test__) is dict and quorl.__test__ == {}

    def test_imported_facilities(self):
        for name, value in IMPORTS + [("difflib", difflib)]:
            assert getattr(quorl, name) is value, name

    def test_module_identity(self):
        assert quorl.__name__ == "quorl"
        assert quorl.__spec__.name == "quorl"
        assert pathlib.Path(quorl.__file__).name.startswith("quorl")


class TestClasses:
    @pytest.mark.parametrize("entry", [e for e in SURFACE if e[1] == "class"],
                             ids=lambda e: e[0])
    def test_plain_class_with_its_methods(self, entry):
        name, _, base, methods = entry
        cls = getattr(quorl, name)
        assert type(cls) is type
        assert cls.__module__ == "quorl" and cls.__qualname__ == name
        assert cls.__bases__ == ((getattr(quorl, base),) if base else (object,))
        own = [k for k, v in vars(cls).items() if callable(v) and not k.startswith("__")
               or k in ("__init__", "__str__")]
        assert sorted(own) == sorted(methods)

    def test_marker_operations_are_marked_abstract_but_not_enforced(self):
        for op in ["setmarker", "getmarker", "addmarker"]:
            assert getattr(quorl.Marker.__dict__[op], "__isabstractmethod__", False) is True
        assert type(quorl.Marker) is type and type(quorl.Marker) is not abc.ABCMeta
        marker = quorl.Marker("t", "c", [])
        assert marker.info == ""

    def test_classes_are_subclassable_in_python(self):
        class Mine(quorl.PositionMapper):
            pass

        assert Mine("ab", "ab").spandiff == [((0, 2), (0, 2))]


class TestSignatures:
    @pytest.mark.parametrize("owner, name, function, expected",
                             list(functions()), ids=lambda v: v if isinstance(v, str) else "")
    def test_parameters_and_defaults(self, owner, name, function, expected):
        assert parameters(function) == expected


class TestDocstrings:
    @pytest.mark.parametrize("owner, name, function, expected",
                             list(functions()), ids=lambda v: v if isinstance(v, str) else "")
    def test_docstring(self, owner, name, function, expected):
        assert function.__doc__ == DOCS.get((owner, name))

    def test_every_documented_function_exists(self):
        names = {(owner, name) for owner, name, _, _ in functions()}
        assert set(DOCS) <= names


def stub_path():
    return pathlib.Path(quorl.__file__).with_name("quorl.pyi")


@pytest.fixture(scope="module")
def stub():
    path = stub_path()
    assert path.is_file(), "quorl.pyi is not installed beside the module"
    return ast.parse(path.read_text(encoding="utf-8"))


def stub_parameters(node):
    args = node.args
    positional = args.posonlyargs + args.args
    defaults = [None] * (len(positional) - len(args.defaults)) + list(args.defaults)
    out = [(a.arg, d is not None) for a, d in zip(positional, defaults)]
    if args.vararg:
        out.append(("*" + args.vararg.arg, False))
    if args.kwarg:
        out.append(("**" + args.kwarg.arg, False))
    return out


class TestStubs:
    def test_marker_file_is_installed(self):
        assert stub_path().with_name("py.typed").is_file()

    def test_stub_binds_every_public_name_and_only_those(self, stub):
        bound, aliases = set(), set()
        for node in stub.body:
            if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
                bound.add(node.name)
            elif isinstance(node, (ast.Import, ast.ImportFrom)):
                bound.update(a.asname for a in node.names if a.asname)
            elif isinstance(node, ast.AnnAssign):
                target = node.target.id
                is_alias = isinstance(node.annotation, ast.Name) and \
                    node.annotation.id == "TypeAlias"
                (aliases if is_alias else bound).add(target)
        assert bound == set(public_names()) | {"__test__"}
        assert all(a.startswith("_") and not hasattr(quorl, a) for a in aliases)

    def test_stub_parameters_match_the_module(self, stub):
        defs = {}
        for node in stub.body:
            if isinstance(node, ast.FunctionDef):
                defs[(None, node.name)] = node
            elif isinstance(node, ast.ClassDef):
                for item in node.body:
                    if isinstance(item, ast.FunctionDef):
                        defs[(node.name, item.name)] = item
        for owner, name, _, expected in functions():
            node = defs.get((owner, name))
            assert node is not None, (owner, name)
            assert stub_parameters(node) == [(p, d is not None) for p, d in expected], name
        helpers = {(None, name) for name in PACKAGE_HELPERS}
        assert set(defs) - helpers == {(o, n) for o, n, _, _ in functions()}
        assert helpers <= set(defs)

    def test_stub_class_bases(self, stub):
        for node in stub.body:
            if isinstance(node, ast.ClassDef):
                bases = [b.id for b in node.bases]
                cls = getattr(quorl, node.name)
                assert bases == [b.__name__ for b in cls.__bases__ if b is not object]

    def test_stub_compiles(self):
        compile(stub_path().read_text(encoding="utf-8"), "quorl.pyi", "exec")

    def test_stub_package_holds_the_same_stub(self):
        package = stub_path().with_name("quorl-stubs") / "__init__.pyi"
        assert package.read_bytes() == stub_path().read_bytes()

    def test_type_checker_reads_the_stubs(self, tmp_path):
        api = pytest.importorskip("mypy.api")
        (tmp_path / "use.py").write_text(
            "import quorl\n"
            "converter = quorl.get_patent_converter('<html/>', b'%PDF')\n"
            "marks = [{'start': 1, 'end': 3, 'type': 'par', 'title': '1', 'content': 'x'}]\n"
            "data: bytes = quorl.pdf_marker(converter, marks)\n"
            "pairs = quorl.PositionMapper('ab', 'ab').spandiff\n"
            "first: int = pairs[0][0][0]\n"
            "wrong: str = quorl.pdf_marker(converter, marks)\n", encoding="utf-8")
        out, _, status = api.run([str(tmp_path / "use.py"), "--cache-dir",
                                  str(tmp_path / "cache"), "--no-error-summary"])
        assert status == 1
        assert out.splitlines() == [
            "%s:7: error: Incompatible types in assignment (expression has type \"bytes\", "
            "variable has type \"str\")  [assignment]" % (tmp_path / "use.py")]
