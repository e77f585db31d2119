"""Tesseract's hOCR of page images, read in this process through Tesseract's own library.

A page is read in one to six runs (the page, its doubtful lines again, a drawings page's
captions), and every run of the tesseract command starts a process and loads the language model
again: about a tenth of a second of CPU each time, a twentieth of all the OCR's time. So the
library the command runs (libtesseract, through its C API) is loaded into the page's process
once, with its model, and reads every image after that. Its hOCR is the command's, byte for byte
below the document's head: the same code reads the same image file (the same PNM bytes, decoded
by Leptonica as the command decodes them) with the same settings.

Where the library cannot be loaded (another system's name for it), the command is run as
before. The ``tesserocr`` bindings are not used: their wheels bring a Tesseract of their own,
not the system's whose command the rest of the OCR was measured with.
"""
import atexit
import ctypes
import ctypes.util
import functools
import os
import subprocess
import tempfile
import threading

from ..errors import JobError

TIMEOUT = 300  # seconds; a page at 300 dpi takes about five
LIBRARY_NAMES = ("libtesseract.so.5", "libtesseract.so.4")
# The settings the command's "hocr" configuration makes, with the boxes of the characters
# (lines.py sets a line's characters by them), and Tesseract's debug output kept off the page
# process's standard error ("Detected 12 diacritics", "Empty page!!").
SETTINGS = {"tessedit_create_hocr": "1", "hocr_font_info": "0", "hocr_char_boxes": "1",
            "debug_file": os.devnull}
LEPTONICA_SILENT = 6  # L_SEVERITY_NONE
_HTML = (b"<!DOCTYPE html>\n<html><head><meta http-equiv='Content-Type' "
         b"content='text/html;charset=utf-8'/></head><body>\n", b"</body></html>\n")


def hocr(images, dpi, language, tessdata, segmentation):
    """Tesseract's hOCR document of ``images`` (the bytes of image files, read ``dpi`` pixels
    per inch), one ocr_page each, read with page segmentation mode ``segmentation``. JobError
    when Tesseract cannot read them."""
    engine = _engine(tessdata, language)
    if engine is None:
        return _command(images, dpi, language, tessdata, segmentation)
    return engine.hocr(images, dpi, segmentation)


class _Api:
    """One TessBaseAPI with its language model loaded, used by one thread at a time."""

    def __init__(self, library, tessdata, language):
        self._lib, self._lock = library, threading.Lock()
        self._api = ctypes.c_void_p(library.TessBaseAPICreate())
        for name, value in SETTINGS.items():
            library.TessBaseAPISetVariable(self._api, name.encode(), value.encode())
        if library.TessBaseAPIInit3(self._api, tessdata.encode(), language.encode()):
            library.TessBaseAPIDelete(self._api)
            raise JobError(None, "ocr", "Tesseract failed on it: it cannot load the language "
                           "%s from %s" % (language, tessdata))
        for name, value in SETTINGS.items():  # those Init resets
            library.TessBaseAPISetVariable(self._api, name.encode(), value.encode())
        atexit.register(self.close)

    def hocr(self, images, dpi, segmentation):
        lib = self._lib
        pages = []
        with self._lock:
            lib.TessBaseAPISetPageSegMode(self._api, segmentation)
            lib.TessBaseAPISetVariable(self._api, b"user_defined_dpi", str(int(dpi)).encode())
            for number, image in enumerate(images):
                pages.append(self._read(image, number))
        return _HTML[0] + b"".join(pages) + _HTML[1]

    def _read(self, image, number):
        lib = self._lib
        pix = ctypes.c_void_p(lib.pixReadMem(image, len(image)))
        if not pix:
            raise JobError(None, "ocr", "Tesseract failed on it: its image cannot be decoded")
        monitor = ctypes.c_void_p(lib.TessMonitorCreate())
        try:
            lib.TessMonitorSetDeadlineMSecs(monitor, max(1, int(TIMEOUT * 1000)))
            lib.TessBaseAPISetImage2(self._api, pix)
            if lib.TessBaseAPIRecognize(self._api, monitor):
                lib.TessBaseAPIClear(self._api)
                raise JobError(None, "ocr", "Tesseract failed on it: it could not recognise "
                               "the page (or not within %d s)" % TIMEOUT)
            text = lib.TessBaseAPIGetHOCRText(self._api, number)
            if not text:
                raise JobError(None, "ocr", "Tesseract failed on it: it wrote no hOCR")
            try:
                return ctypes.string_at(text)
            finally:
                lib.TessDeleteText(text)
        finally:
            lib.TessMonitorDelete(monitor)
            lib.TessBaseAPIClear(self._api)
            lib.pixDestroy(ctypes.byref(pix))

    def close(self):
        """Frees the model (Tesseract warns of leaks at exit otherwise)."""
        with self._lock:
            if self._api:
                self._lib.TessBaseAPIEnd(self._api)
                self._lib.TessBaseAPIDelete(self._api)
                self._api = ctypes.c_void_p()


@functools.lru_cache(maxsize=None)
def _library():
    """libtesseract with its C API's signatures set (Leptonica's pixReadMem and pixDestroy
    found through it), None where it cannot be loaded."""
    for name in _library_names():
        try:
            lib = ctypes.CDLL(name)
        except OSError:
            continue
        try:
            _declare(lib)
        except AttributeError:  # a library without the C API's functions
            return None
        if hasattr(lib, "setMsgSeverity"):
            # Leptonica's complaints about an image ("Error in pixReadMem") become the page's
            # reason instead (JobError); the command's went to its captured standard error.
            lib.setMsgSeverity(LEPTONICA_SILENT)
        return lib
    return None


def _library_names():
    yield from LIBRARY_NAMES
    found = ctypes.util.find_library("tesseract")  # runs ldconfig: only when the others fail
    if found:
        yield found


def _declare(lib):
    api, pointer, text = ctypes.c_void_p, ctypes.c_void_p, ctypes.c_char_p
    signatures = {
        "TessBaseAPICreate": (pointer, []),
        "TessBaseAPIDelete": (None, [api]),
        "TessBaseAPIInit3": (ctypes.c_int, [api, text, text]),
        "TessBaseAPISetVariable": (ctypes.c_int, [api, text, text]),
        "TessBaseAPISetPageSegMode": (None, [api, ctypes.c_int]),
        "TessBaseAPISetImage2": (None, [api, pointer]),
        "TessBaseAPIRecognize": (ctypes.c_int, [api, pointer]),
        "TessBaseAPIGetHOCRText": (pointer, [api, ctypes.c_int]),
        "TessBaseAPIClear": (None, [api]),
        "TessBaseAPIEnd": (None, [api]),
        "TessDeleteText": (None, [pointer]),
        "TessMonitorCreate": (pointer, []),
        "TessMonitorDelete": (None, [pointer]),
        "TessMonitorSetDeadlineMSecs": (None, [pointer, ctypes.c_int]),
        "pixReadMem": (pointer, [text, ctypes.c_size_t]),
        "pixDestroy": (None, [ctypes.POINTER(ctypes.c_void_p)]),
    }
    for name, (result, arguments) in signatures.items():
        function = getattr(lib, name)
        function.restype, function.argtypes = result, arguments


@functools.lru_cache(maxsize=None)
def _engine(tessdata, language):
    """This process's Tesseract for ``language``, its model loaded on first use; None where
    the library cannot be loaded."""
    library = _library()
    return _Api(library, tessdata, language) if library is not None else None


def _command(images, dpi, language, tessdata, segmentation):
    """The tesseract command's hOCR of ``images``: one image through a pipe, several listed in
    a file (one run, its model loaded once)."""
    if len(images) == 1:
        return _run_command("stdin", images[0], dpi, language, tessdata, segmentation)
    with tempfile.TemporaryDirectory(prefix="quorl-ocr-") as folder:
        names = []
        for i, image in enumerate(images):
            names.append(os.path.join(folder, "%d.pnm" % i))
            with open(names[-1], "wb") as f:
                f.write(image)
        listing = os.path.join(folder, "images.txt")
        with open(listing, "w") as f:
            f.write("\n".join(names) + "\n")
        return _run_command(listing, None, dpi, language, tessdata, segmentation)


def _run_command(source, image, dpi, language, tessdata, segmentation):
    try:
        done = subprocess.run(["tesseract", source, "stdout", "--tessdata-dir", tessdata,
                               "-l", language, "--psm", str(segmentation), "--dpi",
                               str(dpi), "-c", "hocr_char_boxes=1", "hocr"], input=image,
                              capture_output=True, timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        raise JobError(None, "ocr", "Tesseract did not finish it within %d s"
                       % TIMEOUT) from None
    if done.returncode:
        reason = done.stderr.decode("utf-8", "replace").strip().splitlines()
        raise JobError(None, "ocr", "Tesseract failed on it: %s" % (
            reason[-1] if reason else "exit status %d" % done.returncode))
    return done.stdout
