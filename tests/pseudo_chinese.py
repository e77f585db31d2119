"""Pseudo-Chinese texts for alignment tests and benchmarks: CJK ideographs with Zipf-like
frequencies, and copies with random edits."""


def zipf_text(rng, n, distinct=3000):
    """n CJK ideographs drawn with probability proportional to 1 / rank."""
    weights = [1 / rank for rank in range(1, distinct + 1)]
    return "".join(chr(0x4E00 + k) for k in rng.choices(range(distinct), weights=weights, k=n))


def edited(rng, text, rate, alphabet):
    """text with round(rate * len) random substitutions, deletions and insertions."""
    chars = list(text)
    for _ in range(max(1, round(rate * len(chars)))):
        pos = rng.randrange(len(chars) + 1)
        kind = rng.randrange(3)
        if kind == 0 and pos < len(chars):
            chars[pos] = rng.choice(alphabet)
        elif kind == 1 and pos < len(chars):
            del chars[pos]
        else:
            chars.insert(pos, rng.choice(alphabet))
    return "".join(chars)
