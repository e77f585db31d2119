"""The words the package shares with the quorl module: section and page kinds, mark types, and
what the markers write into a PDF's annotations. Reading marks back inverts exactly these."""

# HTML section id -> the PDF page kind aligned with it, in the order the converter aligns them.
SECTIONS = (("cn-bibliographic-info", "abstract"), ("claims", "claims"),
            ("description", "descriptions"), ("drawings", "drawings"))

# Mark type -> the quorl marker class that draws it.
MARKERS = {"par": "PARMarker", "cth": "CTHMarker", "imgpar": "ImgPARMarker",
           "imgig": "ImgIGMarker", "flag": "FlagMarker"}
MARK_TYPES = tuple(MARKERS)
# Types that are drawn as another type: an "equal" mark is a "par" mark labelled as a duplicate.
ALIASES = {"equal": "par"}
# The info hint that makes a numbered label read "=" and the title.
EQUAL_INFO = "EQUAL"

# The annotations the markers draw: their author (the /T entry) and their subjects.
AUTHOR = "vexil"
HIGHLIGHT_SUBJECT = "Highlight"
NUMBER_SUBJECT = "SingleNUM"
RANGE_SUBJECT = "Range"
DUPLICATE_SUBJECT = "Duplicate"
IMAGE_LABEL_SUBJECT = "IGseq"
SUBJECTS = (HIGHLIGHT_SUBJECT, NUMBER_SUBJECT, RANGE_SUBJECT, DUPLICATE_SUBJECT,
            IMAGE_LABEL_SUBJECT)
# The subjects of number labels; a range's title holds RANGE_TOKEN, a duplicate's label reads
# DUPLICATE_PREFIX and the title.
NUMBER_SUBJECTS = (NUMBER_SUBJECT, RANGE_SUBJECT, DUPLICATE_SUBJECT)
RANGE_TOKEN = "-"
DUPLICATE_PREFIX = "="

# Flags are free-text annotations that keep PyMuPDF's empty subject and author. The flag of a
# mark stands in the column FLAG_COLUMN, FLAG_HEIGHT points tall, its top level with the mark's
# first line, filled with FLAG_FILL; every flag mark also draws CLAIMS_FLAG on the second page.
FLAG_COLUMN = (500, 560)
FLAG_HEIGHT = 15
FLAG_FILL = (0.52, 0.64, 1)
CLAIMS_FLAG_PAGE = 1
CLAIMS_FLAG_RECT = (500, 30, 560, 45)
CLAIMS_FLAG_TEXT = "Claims"
CLAIMS_FLAG_FILL = (1, 0.4, 0.4)

# PDF annotation kinds, as PyMuPDF names them: those that mark text, and those that hold a note.
TEXT_MARKUP_KINDS = ("Highlight", "Underline", "Squiggly", "StrikeOut")
NOTE_KINDS = ("Text", "FreeText")

# What the PDF text leaves out of its lines: the document model removes no-break spaces.
PDF_TEXT_HIDDEN = "\u00a0"


def drawn_type(mark_type):
    """The marker key a mark type is drawn with."""
    return ALIASES.get(mark_type, mark_type)


def marker_registry(quorl):
    """Mark type -> marker class of the given quorl module, as its converter is built with."""
    return {kind: getattr(quorl, name) for kind, name in MARKERS.items()}
