"""A patent PDF that is small on disk but needs hundreds of MB of memory to read: one page
carries a 16000 x 16000 grey image of zeros, deflated to some 250 KB."""
import zlib

import pymupdf

SIDE = 16000


def add_huge_image(pdf_path):
    doc = pymupdf.open(pdf_path)
    image = doc.get_new_xref()
    doc.update_object(image, "<< /Type /XObject /Subtype /Image /Width %d /Height %d "
                      "/ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode >>"
                      % (SIDE, SIDE))
    doc.update_stream(image, zlib.compress(bytes(SIDE * SIDE), 6), compress=False)
    page = doc[1]
    resources = int(doc.xref_get_key(page.xref, "Resources")[1].split()[0])
    doc.xref_set_key(resources, "XObject", "<< /QuorlHuge %d 0 R >>" % image)
    contents = page.get_contents()[0]
    doc.update_stream(contents, doc.xref_stream(contents)
                      + b"\nq 20 0 0 20 10 10 cm /QuorlHuge Do Q\n")
    data = doc.tobytes()
    doc.close()
    with open(pdf_path, "wb") as f:
        f.write(data)
