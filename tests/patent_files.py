"""Generated patents written as a batch's input files: NAME.html, NAME.pdf and NAME.marks.json,
the marks spread over the claims, the description paragraphs and the figure captions; and the
batch's report read back."""
import json
import pathlib

import quorl
from patents import generate_patent

KINDS = ("par", "cth", "equal", "imgpar", "imgig", "flag")


def spread_marks(html, count=12):
    """``count`` marks of every kind over the patent's elements, as HTML character spans."""
    htmldoc = quorl.HtmlDocument(html, parserlist=[{"name": ["img", "div", "h2"]}])
    ids = sorted(i for i in htmldoc.infodict if i[:2] in ("cl", "p0", "fc") and i[2:].isdigit())
    marks = []
    for n, element_id in enumerate(ids[::max(1, len(ids) // count)][:count]):
        record = htmldoc.infodict[element_id]
        start = record["start"] + min(2, (record["end"] - record["start"]) // 4)
        kind = KINDS[n % len(KINDS)]
        mark = {"start": start, "end": min(record["end"], start + 30), "type": kind,
                "title": str(n + 1), "content": "mark %d" % (n + 1)}
        if kind == "equal":
            mark["info"] = "EQUAL"
        marks.append(mark)
    return marks


def write_patent(folder, name, seed, marks=12, **knobs):
    """Writes one generated patent into ``folder``; returns the three paths."""
    folder = pathlib.Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    patent = generate_patent(seed, **knobs)
    paths = (folder / (name + ".html"), folder / (name + ".pdf"), folder / (name + ".marks.json"))
    paths[0].write_text(patent.html, encoding="utf-8")
    paths[1].write_bytes(patent.pdf)
    paths[2].write_text(json.dumps(spread_marks(patent.html, marks), ensure_ascii=False),
                        encoding="utf-8")
    return paths


def small_patents(folder, count):
    """``count`` small patents p0, p1, ... (3 pages, 6 marks each) written into ``folder``."""
    for seed in range(count):
        write_patent(folder, "p%d" % seed, seed, pages=3, marks=6)
    return folder


def report(outdir):
    """Every line of OUTDIR/report.jsonl, in order."""
    with open(pathlib.Path(outdir) / "report.jsonl", encoding="utf-8") as f:
        return [json.loads(line) for line in f]


def latest(outdir):
    """The last report line of each patent, by name."""
    return {line["name"]: line for line in report(outdir)}
