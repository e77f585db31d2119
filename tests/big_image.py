"""A patent PDF that is small on disk but needs hundreds of MB of memory to show: a blank last
page of 200 by 200 inches, the largest a PDF allows, whose image at 60 dpi takes 432 MB."""
import pymupdf

SIDE = 14400  # points


def add_huge_page(pdf_path):
    doc = pymupdf.open(pdf_path)
    doc.new_page(width=SIDE, height=SIDE)
    data = doc.tobytes()
    doc.close()
    with open(pdf_path, "wb") as f:
        f.write(data)
