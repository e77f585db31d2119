"""Shows the alignment of two sample texts and writes their HTML difference view."""
import pathlib
import sys

import quorl

HTML_TEXT = "一种图像处理方法，包括：获取图像；对所述图像进行滤波。\n所述滤波为高斯滤波。"
PDF_TEXT = "一种图像处理方法,包括:获取图\n像;对所述图像进行滤波。\n所述滤波为高斯滤波"


def main(outdir: str) -> None:
    out = pathlib.Path(outdir)
    out.mkdir(parents=True, exist_ok=True)
    mapper = quorl.PositionMapper(HTML_TEXT, PDF_TEXT)
    print("opcodes:", mapper.difflist)
    print("spans:", mapper.spandiff)
    print("line relations:", quorl.get_relation_list(mapper))
    view = out / "diffview.html"
    view.write_text('<meta charset="utf-8">' + mapper.getdiffviewtext(), encoding="utf-8")
    print("diff view written to", view)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "demo-out")
