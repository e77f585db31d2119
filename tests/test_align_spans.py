"""Span arithmetic: searching span lists, carrying spans and positions, cutting spans into lines."""
import pytest
from hypothesis import given
from hypothesis import strategies as st

import align_reference as ref
import quorl

PAIRS = [((0, 5), (0, 5)), ((8, 12), (6, 10))]


def _pairs_of(runs):
    pairs, a, b = [], 0, 0
    for gap_a, size, gap_b in runs:
        a, b = a + gap_a, b + gap_b
        pairs.append(((a, a + size), (b, b + size)))
        a, b = a + size, b + size
    return pairs


# Ordered span pair lists with gaps of up to 6 on either side.
SPAN_PAIRS = st.lists(st.tuples(st.integers(0, 6), st.integers(1, 8), st.integers(0, 6)),
                      max_size=8).map(_pairs_of)


class TestCheckSpan:
    @pytest.mark.parametrize(
        "args, expected",
        [((2, 4, 100), True), ((2, 5, 5), False), ((1, 1, 1), False), ((10, 0, 10), False),
         ((10, 10, 0), False), ((3, 100, 6), True), ((2, -3, 100), False), ((-4, -3, 100), False)],
    )
    def test_threshold(self, args, expected):
        assert quorl.check_span(*args) is expected

    @given(st.integers(-50, 50), st.integers(-50, 50), st.integers(-50, 50))
    def test_matches_true_division(self, length, a_length, b_length):
        expected = bool(a_length) and bool(b_length) and length >= 2 and (
            length / a_length >= 0.5 or length / b_length >= 0.5)
        assert quorl.check_span(length, a_length, b_length) is expected

    def test_huge_and_float_lengths_follow_python_arithmetic(self):
        assert quorl.check_span(2**70, 2**71, 1) is True
        assert quorl.check_span(2.5, 5.0, 100) is True
        with pytest.raises(TypeError):
            quorl.check_span("2", 4, 4)


class TestSpanBinarySearch:
    SPANS = [(0, 5), (10, 15), (20, 25)]

    @pytest.mark.parametrize("value, expected", [(7, 0), (17, 1), (22, 2), (30, 2), (10, 1), (5, 0), (-3, -1)])
    def test_nearest_span(self, value, expected):
        assert quorl.span_binary_search(self.SPANS, value) == expected

    def test_exact(self):
        assert quorl.span_binary_search(self.SPANS, 10, exact=True) == 1
        assert quorl.span_binary_search(self.SPANS, 22, True) == -1
        assert quorl.span_binary_search([(0, 5)], 3, exact=True) == -1
        assert quorl.span_binary_search([(0, 5)], 3) == 0

    def test_empty_and_before_first(self):
        assert quorl.span_binary_search([], 3) == -1
        assert quorl.span_binary_search([(0, 5), (10, 15)], -3) == -1

    @given(st.lists(st.tuples(st.integers(0, 40), st.integers(0, 10)), max_size=12),
           st.integers(-5, 60), st.booleans())
    def test_matches_reference(self, raw, value, exact):
        spans, pos = [], 0
        for gap, length in raw:
            spans.append((pos + gap, pos + gap + length))
            pos += gap + length
        assert quorl.span_binary_search(spans, value, exact) == ref.span_binary_search(spans, value, exact)

    def test_bad_arguments_raise_python_errors(self):
        with pytest.raises(TypeError):
            quorl.span_binary_search([(0, 5)], 2.5)
        with pytest.raises(TypeError):
            quorl.span_binary_search([None], 2)
        with pytest.raises(IndexError):
            quorl.span_binary_search([(0,), (10,)], 9)
        with pytest.raises(OverflowError):
            quorl.span_binary_search([(0, 5)], 2**80)


class TestConvertSpan:
    @pytest.mark.parametrize(
        "sa, expected",
        [((1, 3), ((1, 3), (1, 3))), ((3, 10), ((3, 10), (3, 8))), ((0, 12), ((0, 12), (0, 10))),
         ((4, 9), ((4, 9), (4, 7))), ((5, 10), ((5, 10), (6, 8))), ((5, 8), []), ((6, 7), []),
         ((12, 20), ((12, 12), (10, 10))), ((9, 9), ((9, 9), (7, 7))), ([1, 3], ((1, 3), (1, 3)))],
    )
    def test_documented_cases(self, sa, expected):
        assert quorl.convert_span_a2b(sa, PAIRS) == expected

    def test_reversed_span_asserts_without_message(self):
        with pytest.raises(AssertionError) as info:
            quorl.convert_span_a2b((4, 3), PAIRS)
        assert info.value.args == ()

    def test_empty_pair_list(self):
        result = quorl.convert_span_a2b((0, 3), [])
        assert result == [] and isinstance(result, list)

    @pytest.mark.parametrize("posa, expected", [(3, 3), (9, 7), (6, 6), (8, 6), (20, 18), (-1, -1)])
    def test_position(self, posa, expected):
        assert quorl.convert_position_a2b(posa, PAIRS) == expected

    @given(SPAN_PAIRS, st.integers(-3, 70), st.integers(0, 30))
    def test_matches_reference(self, pairs, start, length):
        sa = (start, start + length)
        assert quorl.convert_span_a2b(sa, pairs) == ref.convert_span_a2b(sa, pairs)

    def test_text_only_one_side_has_is_not_carried_over(self):
        a = "甲乙丙丁戊己庚辛网页独有网页独有子丑寅卯辰巳午未"
        b = a.replace("网页独有网页独有", "")
        pairs = quorl.PositionMapper(a, b).spandiff
        for span, text in [((4, 16), "戊己庚辛"), ((8, 17), "子"), ((10, 16), "")]:
            result = quorl.convert_span_a2b(span, pairs)
            assert (b[slice(*result[1])] if result else None) == text

    def test_replaced_character_maps_onto_its_replacement(self):
        # a "甲乙丙丁戊" against b "甲乙X丁戊": 丙 is replaced by X.
        pairs = [((0, 2), (0, 2)), ((3, 5), (3, 5))]
        assert quorl.convert_span_a2b((1, 3), pairs) == ((1, 3), (1, 3))

    @given(SPAN_PAIRS, st.integers(0, 70), st.integers(0, 30))
    def test_never_takes_characters_aligned_outside_the_span(self, pairs, start, length):
        result = quorl.convert_span_a2b((start, start + length), pairs)
        if not result:
            return
        (sb_s, sb_e) = result[1]
        for (a1, a2), (b1, _) in pairs:
            for k in range(a2 - a1):
                if sb_s <= b1 + k < sb_e:
                    assert start <= a1 + k < start + length

    def test_malformed_pairs(self):
        with pytest.raises((TypeError, IndexError)):
            quorl.convert_span_a2b((0, 3), [((0, 5),)])
        with pytest.raises(TypeError):
            quorl.convert_span_a2b((0, 3), [(("a", 5), (0, 5))])
        with pytest.raises(TypeError):
            quorl.convert_span_a2b(None, PAIRS)


class TestSpanToLines:
    INDEX = [0, 4, 4, 10]

    @pytest.mark.parametrize(
        "span, expected",
        [((2, 6), [(0, [2, 4]), (1, [0, 0]), (2, [0, 2])]), ((0, 4), [(0, [0, 4])]),
         ((4, 10), [(2, [0, 6])]), ((3, 3), [(0, [3, 3])]), ((4, 4), []), ([], []), (None, [])],
    )
    def test_documented_cases(self, span, expected):
        assert quorl.convert_span2lines(span, self.INDEX) == expected

    @given(st.lists(st.integers(0, 6), max_size=8), st.integers(-3, 40), st.integers(-3, 40))
    def test_matches_reference(self, lengths, s, e):
        index = [0]
        for n in lengths:
            index.append(index[-1] + n)
        assert quorl.convert_span2lines((s, e), index) == ref.convert_span2lines((s, e), index)

    def test_needs_a_line_start(self):
        with pytest.raises(IndexError):
            quorl.convert_span2lines((0, 1), [])


def test_span_text_follows_slicing():
    assert quorl.get_span_text((1, 4), "ab\ncd") == "bc"
    assert quorl.get_span_text((-3, 100), "ab\ncd") == "cd"
    assert quorl.get_span_text((None, 2), "a\nb") == "a"
