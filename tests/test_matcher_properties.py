"""The mapper's opcodes are CPython difflib's, for every pair of texts.

Small texts over small alphabets come from hypothesis; large pseudo-Chinese texts with random
edits and the repetitive shapes that defeat a plain port of difflib are generated from fixed
seeds. difflib runs with no junk and autojunk off, as the mapper's compare() specifies.
"""
import difflib
import random

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import quorl
from pseudo_chinese import edited, zipf_text


def difflib_opcodes(a, b):
    return difflib.SequenceMatcher(None, a, b, None).get_opcodes()


def assert_same_as_difflib(a, b):
    mapper = quorl.PositionMapper(a, b)
    assert mapper.a_text == a and mapper.b_text == b
    assert mapper.difflist == difflib_opcodes(a, b)


# Newlines split a side into lines, so the texts compared here hold none.
ALPHABETS = ["a", "ab", "abc", "abcdefgh", "a\U0001F600\U00020000", "的是一了", "\ud800a\udfff\x00"]
# Every code point but the newline.
ANY_CODE_POINT = st.characters(exclude_characters="\n", exclude_categories=())


def text_over(alphabet, max_size=80):
    return st.text(alphabet=alphabet, max_size=max_size)


@st.composite
def related_pair(draw):
    """A text and a copy of it with a few substitutions, deletions and insertions."""
    alphabet = draw(st.sampled_from(ALPHABETS))
    a = draw(text_over(alphabet))
    b = list(a)
    for _ in range(draw(st.integers(0, 6))):
        kind = draw(st.sampled_from(["sub", "del", "ins"]))
        pos = draw(st.integers(0, len(b)))
        char = draw(st.sampled_from(alphabet + "xy"))
        if kind == "sub" and pos < len(b):
            b[pos] = char
        elif kind == "del" and pos < len(b):
            del b[pos]
        else:
            b.insert(pos, char)
    return a, "".join(b)


@st.composite
def independent_pair(draw):
    alphabet = draw(st.sampled_from(ALPHABETS))
    return draw(text_over(alphabet)), draw(text_over(alphabet))


class TestSmallTexts:
    @settings(max_examples=800, deadline=None)
    @given(independent_pair())
    def test_independent_texts(self, pair):
        assert_same_as_difflib(*pair)

    @settings(max_examples=800, deadline=None)
    @given(related_pair())
    def test_edited_copies(self, pair):
        assert_same_as_difflib(*pair)

    @settings(max_examples=400, deadline=None)
    @given(st.text(ANY_CODE_POINT, max_size=40), st.text(ANY_CODE_POINT, max_size=40))
    def test_any_code_points(self, a, b):
        # U+0000, astral planes and the last code point are characters like any other.
        assert_same_as_difflib(a, b)

    @settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.filter_too_much])
    @given(text_over("abcd", 30), text_over("wxyz", 30))
    def test_no_common_character(self, a, b):
        assume(a or b)
        ops = quorl.PositionMapper(a, b).difflist
        assert ops == difflib_opcodes(a, b)
        assert all(tag != "equal" for tag, *_ in ops)

    @pytest.mark.parametrize("a, b", [("", ""), ("", "abc"), ("abc", ""), ("\U0010FFFF", "\U0010FFFF"),
                                      ("\x00\x00", "\x00"), ("qabxcd", "abycdf")])
    def test_edge_cases(self, a, b):
        assert_same_as_difflib(a, b)


class TestLargePseudoChinese:
    @pytest.mark.parametrize("seed, size, rate", [(1, 3000, 0.005), (2, 5000, 0.01), (3, 4000, 0.03),
                                                  (4, 6000, 0.02)])
    def test_edited_copy(self, seed, size, rate):
        rng = random.Random(seed)
        a = zipf_text(rng, size)
        b = edited(rng, a, rate, zipf_text(rng, 500))
        assert_same_as_difflib(a, b)

    def test_moved_and_repeated_passages(self):
        # Passages copied elsewhere give long common substrings off the main alignment.
        rng = random.Random(5)
        base = zipf_text(rng, 2000, distinct=400)
        a = base + base[300:900] + base
        b = edited(rng, base[1000:1500] + a, 0.01, "甲乙丙")
        assert_same_as_difflib(a, b)

    def test_unrelated_texts(self):
        rng = random.Random(6)
        assert_same_as_difflib(zipf_text(rng, 2500), zipf_text(rng, 2500))


def interleave(x, y):
    return "".join(p + q for p, q in zip(x, y))


class TestAdversarialShapes:
    """Inputs on which difflib's own algorithm does the most work; sizes keep difflib near a
    second."""

    def test_random_binary_texts(self):
        rng = random.Random(7)
        a = "".join(rng.choice("01") for _ in range(1500))
        b = "".join(rng.choice("01") for _ in range(1500))
        assert_same_as_difflib(a, b)

    def test_alternation_against_its_shift(self):
        assert_same_as_difflib("ab" * 1000, "ba" * 1000)

    def test_one_repeated_character_with_one_change(self):
        a = "a" * 1500
        assert_same_as_difflib(a, a[:500] + "b" + a[501:])
        assert_same_as_difflib(a, a[:700] + "b" + a[700:])

    @pytest.mark.parametrize("period", ["ab", "abc", "abcab", "aab"])
    def test_short_periods_with_edits(self, period):
        rng = random.Random(len(period))
        base = period * (1500 // len(period))
        assert_same_as_difflib(edited(rng, base, 0.01, "abcd"), edited(rng, base, 0.01, "abcd"))

    def test_text_against_itself_with_blanks(self):
        text = zipf_text(random.Random(8), 500)
        spaced = "".join(c + " " for c in text)
        assert_same_as_difflib(text, spaced)
        assert_same_as_difflib(spaced, text)

    def test_distinct_characters_against_an_interleaving(self):
        distinct = "".join(chr(0x4E00 + k) for k in range(1000))
        mixed = interleave(distinct[:500], distinct[500:])
        assert_same_as_difflib(distinct, mixed)
        assert_same_as_difflib(mixed, distinct)
