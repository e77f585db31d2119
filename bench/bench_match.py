"""How much of an HTML and a PDF aligns, for pairs that belong together and pairs that do not:
the measurements behind quorl-mark's same-publication threshold (job.MATCH_THRESHOLD).

Pairs, on generated patents of several sizes:
- matching: a patent's own HTML and PDF;
- edited: the HTML with a few characters replaced, inserted or deleted and punctuation turned
  half-width, as full-text databases differ from the print;
- 5% wrong: about 5% of the characters replaced, inserted or deleted (3/1/1), as OCR gives; the
  edits are made to the HTML side, which the measure treats exactly like the PDF side;
- mismatched: one patent's HTML with another patent's PDF (all from the same generator, so they
  share its vocabulary: a harder case than two real patents).
Prints the aligned share (2 x aligned / (HTML + PDF characters)) per kind: min, median, max.
"""
import pathlib
import statistics
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))

import quorl  # noqa: E402
from patents import generate_patent  # noqa: E402
from quorl_mark import job  # noqa: E402
from quorl_mark.diagnostics import module_diagnostics  # noqa: E402

SEEDS = range(12)
SIZES = [dict(), dict(paragraphs=2, claims=2, figures=1), dict(pages=12)]


def share(html, pdf):
    with module_diagnostics(verbose=False):
        converter = quorl.get_patent_converter(html, pdf)
    return job.measure_match(converter).aligned


def text_length(patent):
    return sum(len(t) for texts in patent.html_texts.values() for t in texts)


def main():
    results = {"matching": [], "edited": [], "5% wrong": [], "mismatched": []}
    for seed in SEEDS:
        size = SIZES[seed % len(SIZES)]
        patent = generate_patent(seed, **size)
        results["matching"].append(share(patent.html, patent.pdf))
        edited = generate_patent(seed, substitutions=3, insertions=2, deletions=2, halfwidth=3,
                                 **size)
        results["edited"].append(share(edited.html, patent.pdf))
        wrong = max(1, text_length(patent) // 100)
        noisy = generate_patent(seed, substitutions=3 * wrong, insertions=wrong,
                                deletions=wrong, **size)
        results["5% wrong"].append(share(noisy.html, patent.pdf))
        other = generate_patent(seed + 100, **SIZES[(seed + 1) % len(SIZES)])
        results["mismatched"].append(share(other.html, patent.pdf))
    print("threshold %.2f" % job.MATCH_THRESHOLD)
    print("%-12s %6s %6s %6s" % ("pairs", "min", "median", "max"))
    for kind, values in results.items():
        print("%-12s %6.3f %6.3f %6.3f" % (kind, min(values), statistics.median(values),
                                           max(values)))


if __name__ == "__main__":
    main()
