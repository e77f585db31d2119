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


def drawn_type(mark_type):
    """The marker key a mark type is drawn with."""
    return ALIASES.get(mark_type, mark_type)


def marker_registry(quorl):
    """Mark type -> marker class of the given quorl module, as its converter is built with."""
    return {kind: getattr(quorl, name) for kind, name in MARKERS.items()}
