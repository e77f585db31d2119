"""The module's published names and the outside facilities it binds."""
import bs4
import pymupdf

import quorl


def test_imported_facilities_are_the_libraries_themselves():
    assert quorl.fitz is pymupdf
    assert quorl.BeautifulSoup is bs4.BeautifulSoup
    assert quorl.SoupStrainer is bs4.SoupStrainer
    assert quorl.reduce.__module__ == "_functools"
    assert quorl.__test__ == {}
