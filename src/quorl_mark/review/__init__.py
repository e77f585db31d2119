"""Pages for a person to read: the review page of a marked patent (page.py, its style and script
in assets.py) and the diff view of each section (views.py).

It may import the shared modules and the quorl module; it never imports the job, which writes
these pages.
"""
