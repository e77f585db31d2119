// Raw-dict extraction with the page's image blocks set aside, and their boxes put back.
#include "quorl/python/raw_text_page.hpp"

#include <utility>
#include <vector>

#include "quorl/python/pyclass.hpp"
#include "quorl/python/pymupdf_access.hpp"

namespace quorl::python {

namespace {

using namespace pybind11::literals;

// An image block taken out of the text page's block list, with its neighbours at the time.
struct DetachedBlock {
  py::object block, prev, next;
};

// Unlinks the image blocks of a text page (MuPDF's fz_stext_page, through PyMuPDF's low-level
// bindings) and links them back, in reverse order, when it goes: the text page frees the images
// its blocks hold by walking the list.
class ImageBlocksSetAside {
 public:
  explicit ImageBlocksSetAside(py::object stext) : stext_(std::move(stext)) {}
  void detach(const py::object& block) {
    // Kept before the links change, so that a failure half way is undone too.
    detached_.push_back({block, block.attr("prev"), block.attr("next")});
    const DetachedBlock& d = detached_.back();
    link(d.prev, "next", d.next, "first_block");
    link(d.next, "prev", d.prev, "last_block");
  }
  ~ImageBlocksSetAside() {
    try {
      for (auto it = detached_.rbegin(); it != detached_.rend(); ++it) {
        link(it->prev, "next", it->block, "first_block");
        link(it->next, "prev", it->block, "last_block");
      }
    } catch (py::error_already_set& e) {
      e.discard_as_unraisable("quorl: relinking the image blocks of a text page");
    }
  }
  ImageBlocksSetAside(const ImageBlocksSetAside&) = delete;
  ImageBlocksSetAside& operator=(const ImageBlocksSetAside&) = delete;

 private:
  // neighbour.field = target, or the page's end field when there is no neighbour.
  void link(const py::object& neighbour, const char* field, const py::object& target,
            const char* page_end) {
    if (neighbour.is_none()) {
      stext_.attr(page_end) = target;
    } else {
      neighbour.attr(field) = target;
    }
  }

  py::object stext_;
  std::vector<DetachedBlock> detached_;
};

bool truth(const py::object& value) {
  const int result = PyObject_IsTrue(value.ptr());
  if (result < 0) throw py::error_already_set();
  return result != 0;
}

// The boxes PyMuPDF's raw dict gives image blocks: those the text page's rectangle contains, or
// all when it is infinite, as tuples of the block's four floats.
std::vector<py::object> kept_image_boxes(const py::object& mupdf, const py::object& stext,
                                         const std::vector<py::object>& images) {
  py::object rect_type = mupdf.attr("FzRect");
  py::object page_rect = rect_type(stext.attr("mediabox"));
  const bool infinite = truth(mupdf.attr("fz_is_infinite_rect")(page_rect));
  std::vector<py::object> boxes;
  for (const py::object& block : images) {
    py::object r = rect_type(block.attr("bbox"));
    // MuPDF counts an empty box (an image clipped away) as contained: PyMuPDF keeps those.
    const bool inside = infinite || truth(mupdf.attr("fz_contains_rect")(page_rect, r));
    if (inside)
      boxes.push_back(py::make_tuple(r.attr("x0"), r.attr("y0"), r.attr("x1"), r.attr("y1")));
  }
  return boxes;
}

}  // namespace

py::object raw_text_of_page(const py::object& page) {
  py::object fitz = module_global("fitz");
  if (!py::type::of(page).is(fitz.attr("Page"))) return page.attr("get_text")("rawdict");
  // What get_text('rawdict') does for a page without a clip.
  py::object textpage =
      page.attr("get_textpage")("clip"_a = py::none(), "flags"_a = fitz.attr("TEXTFLAGS_RAWDICT"));
  py::object cropbox = page.attr("cropbox");
  py::object mupdf = fitz.attr("mupdf");
  py::object stext;
  py::object image_type;
  try {
    stext = textpage.attr("this").attr("m_internal");
    image_type = mupdf.attr("FZ_STEXT_BLOCK_IMAGE");
    std::vector<py::object> images;
    for (py::object block = stext.attr("first_block"); !block.is_none();
         block = block.attr("next")) {
      if (py::object(block.attr("type")).equal(image_type)) images.push_back(block);
    }
    if (images.empty()) return textpage.attr("extractRAWDICT")("cb"_a = cropbox);
    const std::vector<py::object> boxes = kept_image_boxes(mupdf, stext, images);
    py::object contentdict;
    {
      ImageBlocksSetAside aside(stext);
      for (const py::object& block : images) aside.detach(block);
      contentdict = textpage.attr("extractRAWDICT")("cb"_a = cropbox);
    }
    py::object blocks = get(contentdict, dict_keys.blocks);
    for (const py::object& box : boxes) {
      py::dict block;
      block[dict_keys.type] = image_type;
      block[dict_keys.bbox] = box;
      blocks.attr("append")(block);
    }
    return contentdict;
  } catch (py::error_already_set& e) {
    // A PyMuPDF whose text page is laid out otherwise: its own extraction, images and all.
    if (!e.matches(PyExc_AttributeError)) throw;
    return textpage.attr("extractRAWDICT")("cb"_a = cropbox);
  }
}

void bind_raw_text_page(py::module_& m) {
  m.def("_raw_text_of_page", &raw_text_of_page, py::arg("page"));
}

}  // namespace quorl::python
