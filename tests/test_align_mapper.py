"""PositionMapper: construction, opcodes, span pairs, line relations and the diff view."""
import difflib
import logging

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import align_reference as ref
import quorl

STYLE = ("<style>.insert {background: lightgreen;}.delete {background: pink;}            "
         ".rinsert {background: yellow;}.rdelete {background: red;}</style>")


def mapper(a, b):
    return quorl.PositionMapper(a, b)


class TestConstruction:
    def test_attributes_in_order(self):
        m = mapper("ab\ncd", "x")
        assert list(vars(m)) == ["a_list", "a_text", "a_length", "a_index", "b_list", "b_text",
                                 "b_length", "b_index", "difflist", "spandiff"]
        assert m.a_list == ["ab", "cd"] and m.a_text == "abcd"
        assert m.a_length == [2, 2] and m.a_index == [0, 2, 4]

    def test_empty_texts(self, caplog):
        with caplog.at_level(logging.WARNING):
            m = mapper("", "")
        assert (m.a_list, m.a_text, m.a_length, m.a_index) == ([""], "", [0], [0, 0])
        assert m.difflist == [] and m.spandiff == []
        assert [r.getMessage() for r in caplog.records] == ["diff opcodes: 0"]
        assert caplog.records[0].name == "root" and caplog.records[0].levelno == logging.WARNING

    def test_list_side_is_kept_as_is(self):
        lines = ["ab", "", "cd"]
        m = mapper(lines, "ab\ncd")
        assert m.a_list is lines
        assert m.a_length == [2, 0, 2] and m.a_index == [0, 2, 2, 4]
        other = mapper("ab\n\ncd", "ab\ncd")
        assert {k: v for k, v in vars(other).items()} == {k: v for k, v in vars(m).items()}

    def test_carriage_return_stays_in_its_line(self):
        assert mapper("a\r\nb", "").a_list == ["a\r", "b"]

    @pytest.mark.parametrize("bad", [("a", "b"), b"ab", None, 3])
    def test_bad_side_raises(self, bad):
        for args in ((bad, "x"), ("x", bad)):
            with pytest.raises(Exception) as info:
                mapper(*args)
            assert type(info.value) is Exception and info.value.args == ("Position Mapper init error",)

    def test_non_str_line_raises_join_error(self):
        with pytest.raises(TypeError):
            mapper(["a", 3], "b")

    def test_str_subclass_is_split(self):
        class S(str):
            pass
        assert mapper(S("a\nb"), "ab").a_list == ["a", "b"]

    def test_python_subclass_overrides_are_used(self):
        class Counting(quorl.PositionMapper):
            def get_line_index(self, lengthlist):
                return ["custom"] + super().get_line_index(lengthlist)
        m = Counting("ab", "ab")
        assert m.a_index == ["custom", 0, 2] and type(m).__mro__[1] is quorl.PositionMapper


class TestOpcodes:
    @pytest.mark.parametrize(
        "a, b",
        [("abc", "abc"), ("abXde", "abYde"), ("abXYde", "abZWde"), ("abXde", "abde"), ("abc", "xyz"),
         ("", "abc"), ("abc", ""), ("一种装置\U0001F600", "一种\U0001F600设备"), ("\ud800x", "x\ud800")],
    )
    def test_equal_difflib(self, a, b):
        assert mapper(a, b).difflist == difflib.SequenceMatcher(None, a, b, None).get_opcodes()

    @settings(max_examples=300)
    @given(st.text("abc\n", max_size=40), st.text("abc\n", max_size=40))
    def test_equal_difflib_on_small_alphabet(self, a, b):
        m = mapper(a, b)
        assert m.difflist == difflib.SequenceMatcher(None, m.a_text, m.b_text, None).get_opcodes()

    def test_compare_logs_again_and_returns_a_new_list(self, caplog):
        m = mapper("abXde", "abYde")
        caplog.clear()
        with caplog.at_level(logging.WARNING):
            ops = m.compare()
        assert ops == m.difflist and ops is not m.difflist
        assert [r.getMessage() for r in caplog.records] == ["diff opcodes: 3"]

    def test_releases_no_state_between_mappers(self):
        first = mapper("aaaa", "aaab").difflist
        assert mapper("aaaa", "aaab").difflist == first


class TestSpanPairs:
    @pytest.mark.parametrize(
        "a, b, expected",
        [("abc", "abc", [((0, 3), (0, 3))]), ("abXde", "abYde", [((0, 5), (0, 5))]),
         ("abXYde", "abZWde", [((0, 2), (0, 2)), ((4, 6), (4, 6))]),
         ("abXde", "abde", [((0, 2), (0, 2)), ((3, 5), (2, 4))]), ("abc", "xyz", [])],
    )
    def test_spandiff(self, a, b, expected):
        assert mapper(a, b).spandiff == expected

    def test_interval_and_explicit_opcodes(self):
        m = mapper("abXYde", "abZWde")
        assert m.get_relation_format(interval=2) == [((0, 6), (0, 6))]
        assert m.get_relation_format([], 1) == m.spandiff
        ops = [("equal", 0, 1, 0, 1), ("replace", 1, 3, 1, 3), ("equal", 3, 4, 3, 4)]
        assert m.get_relation_format(ops, 2) == [((0, 4), (0, 4))]
        assert m.get_relation_format(ops, 1.5) == [((0, 1), (0, 1)), ((3, 4), (3, 4))]
        assert m.get_relation_format(ops, 10**30) == [((0, 4), (0, 4))]
        assert m.get_relation_format(ops, -10**30) == [((0, 1), (0, 1)), ((3, 4), (3, 4))]

    def test_shared_default_is_never_written(self):
        m = mapper("abXde", "abde")
        m.get_relation_format()
        m.get_relation_split_line()
        assert m.get_relation_format() == m.spandiff

    def test_malformed_opcodes_raise(self):
        m = mapper("ab", "ab")
        with pytest.raises(IndexError):
            m.get_relation_format([("equal", 1)])
        with pytest.raises(TypeError):
            m.get_relation_format([("equal", "x", 1, 2, 3)])

    @given(st.text("ab ", max_size=30), st.text("ab ", max_size=30))
    def test_invariants(self, a, b):
        m = mapper(a, b)
        prev = None
        for (a0, a1), (b0, b1) in m.spandiff:
            assert a1 - a0 == b1 - b0 > 0
            if prev:
                assert prev[0][1] <= a0 and prev[1][1] <= b0
            prev = ((a0, a1), (b0, b1))


class TestLineRelations:
    def test_pieces_cross_no_line_boundary(self):
        m = mapper(["abcd", "efgh"], ["ab", "cdefgh"])
        assert m.get_relation_split_line() == [[(0, 0, 2), (0, 0, 2)], [(0, 2, 4), (1, 0, 2)],
                                               [(1, 0, 4), (1, 2, 6)]]
        assert quorl.get_relation_by_line(0, m) == [0, 1]
        assert quorl.get_relation_by_line(1, m) == [1]
        assert quorl.get_relation_list(m) == [[0, [0, 1]], [1, [1]]]

    def test_empty_lines_are_stepped_over(self):
        m = mapper(["abcd", "", "efgh"], ["abcdefgh"])
        assert m.get_relation_split_line() == [[(0, 0, 4), (0, 0, 4)], [(2, 0, 4), (0, 4, 8)]]
        assert quorl.get_relation_by_line(1, m) == []
        assert quorl.get_relation_list(m) == [[0, [0]], [2, [0]]]

    def test_substituted_character_is_in_no_piece(self):
        m = mapper(["abXdefgh"], ["abYd", "efgh"])
        assert m.get_relation_split_line() == [[(0, 0, 2), (0, 0, 2)], [(0, 3, 4), (0, 3, 4)],
                                               [(0, 4, 8), (1, 0, 4)]]
        assert quorl.get_relation_by_line(0, m) == [0, 1]

    @pytest.mark.parametrize(
        "a, b, line, expected",
        [(["abcdef"], ["xyzabq", "cdef"], 0, [1]), (["ab", "cdefghij"], ["abcdefghij"], 0, [0]),
         (["ab", "cdefghij"], ["abcdefghij"], 1, [0]), (["ab", "xa"], ["ab", "a"], 1, [])],
    )
    def test_threshold(self, a, b, line, expected):
        assert quorl.get_relation_by_line(line, mapper(a, b)) == expected

    def test_line_numbers_out_of_range(self):
        m = mapper(["ab", "cd"], ["abcd"])
        with pytest.raises(IndexError):
            quorl.get_relation_by_line(2, m)
        assert quorl.get_relation_by_line(-1, m) == []

    def test_empty_mapper(self):
        m = mapper("", "")
        assert m.get_relation_split_line() == [] and quorl.get_relation_list(m) == []

    def test_opcodes_that_do_not_fit_the_lines_raise_index_error(self):
        m = mapper(["ab"], ["ab"])
        with pytest.raises(IndexError):
            m.get_relation_split_line([("equal", 5, 9, 0, 4)])

    def test_override_of_split_line_is_used(self):
        class Fixed(quorl.PositionMapper):
            def get_relation_split_line(self, difflist=[], linebreak=False):
                return [[(0, 0, 2), (1, 0, 2)]]
        m = Fixed(["ab"], ["ab", "ab"])
        assert quorl.get_relation_list(m) == [[0, [1]]]

    @settings(max_examples=200)
    @given(st.lists(st.text("ab", max_size=5), min_size=1, max_size=5),
           st.lists(st.text("ab", max_size=5), min_size=1, max_size=5))
    def test_pieces_match_reference(self, a_lines, b_lines):
        m = mapper(a_lines, b_lines)
        assert m.get_relation_split_line() == ref.split_line(m.difflist, m.a_index, m.b_index)
        for piece in m.get_relation_split_line():
            (al, a0, a1), (bl, b0, b1) = piece
            assert a_lines[al][a0:a1] == b_lines[bl][b0:b1] != ""


class TestDiffView:
    def test_replace(self):
        assert mapper("abXde", "abYde").getdiffviewtext() == (
            STYLE + '<span class="equal">ab</span><span class="rdelete">X</span>'
            '<span class="rinsert">Y</span><span class="equal">de</span>')

    def test_delete_insert_and_empty(self):
        assert len(STYLE) == 144
        assert mapper("ab", "").getdiffviewtext() == STYLE + '<span class="delete">ab</span>'
        assert mapper("", "ab").getdiffviewtext() == STYLE + '<span class="insert">ab</span>'
        assert mapper("", "").getdiffviewtext() == STYLE

    def test_line_breaks_inside_items(self):
        view = mapper(["x\ny"], ["x\ny"]).getdiffviewtext()
        assert view == STYLE + '<span class="equal">x&para;<br>\n\u3000\u3000y</span>'

    def test_markup_is_escaped(self):
        view = mapper("<b>&'\"", "<b>&'\"").getdiffviewtext()
        assert view == STYLE + '<span class="equal">&lt;b&gt;&amp;&#x27;&quot;</span>'

    def test_unknown_tags_are_skipped(self):
        m = mapper("ab", "ab")
        m.difflist = [("other", 0, 1, 0, 1), ("equal", 0, 2, 0, 2)]
        assert m.getdiffviewtext() == STYLE + '<span class="equal">ab</span>'


def test_docstrings():
    assert quorl.PositionMapper.get_line_index.__doc__ == "\n        根据长度计算字符的起始位置\n"
    assert quorl.PositionMapper.get_relation_format.__doc__ == "\n        合并相邻的span区间，最小合并间隔为interval\n"
    assert quorl.PositionMapper.get_relation_split_line.__doc__ == (
        "\n        返回：[(a段号,a开始,a结束),(b段号,b开始,b结束)]\n")
    assert quorl.check_span.__doc__ == "\n    输入：共同长度，a长度，b长度\n    输出：是否匹配\n"
    assert quorl.get_relation_by_line.__doc__ == "\n    输入：a的行号，对应关系\n    输出，对应b的行号\n"
    assert quorl.get_relation_list.__doc__ == "\n    输入：对应关系\n    输出：对应列表\n"
    assert quorl.span_binary_search.__doc__ == "\n    根据值查找大致区间\n    查找小于value值的最大区间\n"
    assert quorl.convert_span_a2b.__doc__ == (
        "\n    将a的字符范围转为b的字符范围\n    输入：a的字符范围\n    输出：b的字符范围\n")
    assert quorl.convert_position_a2b.__doc__ == "\n    根据a的位置找到b的位置\n"
    assert quorl.convert_span2lines.__doc__ == "\n    span转为行\n"
    assert quorl.get_span_text.__doc__ == "根据文本的坐标获取文本内容"
    for name in ("__init__", "compare", "getdiffviewtext"):
        assert getattr(quorl.PositionMapper, name).__doc__ is None
