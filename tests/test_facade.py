"""PatentConverter and the entry points, driven by small stand-in documents.

The stand-ins offer exactly what the converter reads (`get_text`, `infodict`, `set_info`,
`get_marked_file`), so these tests pin the converter's own behaviour independently of the HTML
and PDF models; tests/test_end_to_end.py runs the same paths on generated patents.
"""
import difflib

import pymupdf
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import align_reference as ref
import quorl

SECTIONS = ["cn-bibliographic-info", "claims", "description", "drawings"]
KINDS = ["abstract", "claims", "descriptions", "drawings"]


class FakeHtml:
    """An HTML document whose text is the concatenation of its sections, in the given order."""

    def __init__(self, sections, prefix="", order=None):
        self.text = prefix
        self.infodict = {}
        for name in order or SECTIONS:
            if name in sections:
                start = len(self.text)
                self.text += sections[name]
                self.infodict[name] = {"type": "item", "id": name, "start": start,
                                       "end": len(self.text)}
        self.get_text_calls = []
        self.set_info_calls = []

    def get_text(self, tag=None):
        self.get_text_calls.append(tag)
        item = self.infodict.get(tag)
        if item:
            return self.text[item["start"]:item["end"]]
        return self.text

    def set_info(self, info=None):
        self.set_info_calls.append(info)
        return "<html>marked</html>"


class FakePdf:
    """A PDF document made of text lines per page kind."""

    ORDER = ["abstract", "claims", "descriptions", "seqs", "drawings"]

    def __init__(self, kinds):
        self.kinds = {k: list(kinds.get(k, [])) for k in self.ORDER}
        self.get_text_calls = []
        self.marked = []

    def get_text(self, typelist=None):
        self.get_text_calls.append(typelist)
        typelist = self.ORDER if typelist is None else typelist
        return "\n".join(line for k in typelist for line in self.kinds[k])

    def get_marked_file(self, marklist):
        self.marked.append(marklist)
        return b"%PDF marked"


def reference_spandiff(a, b):
    """Equal stretches of difflib's alignment, merged across single-character substitutions."""
    a_text, b_text = a.replace("\n", ""), b.replace("\n", "")
    sm = difflib.SequenceMatcher(None, a_text, b_text, False)
    pairs = []
    for tag, i1, i2, j1, j2 in sm.get_opcodes():
        if tag != "equal":
            continue
        if pairs:
            (pa, pb) = pairs[-1]
            gap_a, gap_b = i1 - pa[1], j1 - pb[1]
            if gap_a == gap_b and gap_a <= 1:
                pairs[-1] = ((pa[0], i2), (pb[0], j2))
                continue
        pairs.append(((i1, i2), (j1, j2)))
    return pairs


def reference_difflist(html, pdf):
    out = []
    pdf_before = 0
    for sec, kind in zip(SECTIONS, KINDS):
        pdf_text = pdf.get_text([kind])
        record = html.infodict.get(sec)
        if record:
            for (a1, a2), (b1, b2) in reference_spandiff(html.get_text(sec), pdf_text):
                out.append(((a1 + record["start"], a2 + record["start"]),
                            (b1 + pdf_before, b2 + pdf_before)))
        pdf_before += len(pdf_text.replace("\n", ""))
    return out


def small_patent():
    html = FakeHtml({
        "cn-bibliographic-info": "申请人北京公司摘要本发明公开了一种装置",
        "claims": "1.一种装置，包括壳体。2.根据权利要求1所述的装置，其特征在于。",
        "description": "技术领域本发明涉及一种装置。背景技术现有的装置成本高。",
        "drawings": "图1图2",
    }, prefix="CN 123 A")
    pdf = FakePdf({
        "abstract": ["申请人北京公司", "摘要本发明公开", "了一种装置"],
        "claims": ["1.一种装置，包括", "壳体。2.根据权利要", "求1所述的装置，其特征在于。"],
        "descriptions": ["技术领域", "本发明涉及一种装置。", "背景技术", "现有的装置成本高。"],
        "drawings": ["#imagefile#", "图1", "#imagefile#", "图2"],
    })
    return html, pdf


@pytest.fixture
def converter(capsys):
    html, pdf = small_patent()
    conv = quorl.PatentConverter(html, pdf)
    capsys.readouterr()
    return conv


class TestConstruction:
    def test_attributes_in_order_and_alignment_matches_difflib(self, capsys):
        html, pdf = small_patent()
        conv = quorl.PatentConverter(html, pdf)
        assert list(vars(conv)) == ["htmldoc", "pdfdoc", "difflist"]
        assert conv.htmldoc is html and conv.pdfdoc is pdf
        assert conv.difflist == reference_difflist(html, pdf)
        assert all(type(e) is tuple and type(e[0]) is tuple for e in conv.difflist)
        starts = [e[0][0] for e in conv.difflist]
        assert starts == sorted(starts) and len(starts) > 4

    def test_debug_line_and_calls(self, capsys):
        html, pdf = small_patent()
        quorl.PatentConverter(html, pdf)
        out = capsys.readouterr().out
        assert out == "('debug mapper info:', [8, 27, 60, 87], [0, 19, 52, 79])\n"
        assert html.get_text_calls == SECTIONS
        assert pdf.get_text_calls == [[k] for k in KINDS]

    def test_entries_correspond_character_by_character(self, converter):
        html, pdf = converter.htmldoc, converter.pdfdoc
        pdf_flat = pdf.get_text().replace("\n", "")
        for (a1, a2), (b1, b2) in converter.difflist:
            assert a2 - a1 == b2 - b1 > 0
            differing = [k for k in range(a2 - a1) if html.text[a1 + k] != pdf_flat[b1 + k]]
            assert len(differing) <= (a2 - a1) // 2

    def test_caller_list_is_extended_in_place(self, capsys):
        html, pdf = small_patent()
        mine = []
        conv = quorl.PatentConverter(html, pdf, mine)
        assert conv.difflist is mine and mine == reference_difflist(html, pdf)

    def test_omitted_difflist_is_new_per_converter(self, capsys):
        html, pdf = small_patent()
        first = quorl.PatentConverter(html, pdf)
        other_html = FakeHtml({"claims": "完全不同的文字内容"})
        other_pdf = FakePdf({"claims": ["完全不同的", "文字内容"]})
        second = quorl.PatentConverter(other_html, other_pdf)
        assert first.difflist is not second.difflist
        assert second.difflist == [((0, 9), (0, 9))]
        assert first.difflist == reference_difflist(html, pdf)

    def test_supplied_alignment_skips_mapping(self, capsys, monkeypatch):
        def refuse(*args):
            raise AssertionError("no mapper expected")

        monkeypatch.setattr(quorl, "PositionMapper", refuse)
        html, pdf = small_patent()
        supplied = [((0, 3), (0, 3)), ("not", "checked")]
        conv = quorl.PatentConverter(html, pdf, supplied)
        assert conv.difflist is supplied and supplied == [((0, 3), (0, 3)), ("not", "checked")]
        assert capsys.readouterr().out == ""
        assert html.get_text_calls == [] and pdf.get_text_calls == []

    def test_reusing_a_filled_list_gives_the_same_conversions(self, capsys):
        html, pdf = small_patent()
        filled = []
        quorl.PatentConverter(html, pdf, filled)
        capsys.readouterr()
        again = quorl.PatentConverter(html, pdf, filled)
        assert capsys.readouterr().out == ""
        assert again.convert_mark_html2pdf({"start": 30, "end": 40})["pdflines"]

    @pytest.mark.parametrize("bad", [None, 0, "", ()])
    def test_empty_value_that_is_not_a_list_is_rejected(self, bad):
        html, pdf = small_patent()
        with pytest.raises(TypeError, match="difflist must be a list"):
            quorl.PatentConverter(html, pdf, bad)

    def test_missing_section_contributes_nothing(self, capsys):
        html = FakeHtml({"claims": "一种装置包括壳体", "description": "本发明涉及装置"},
                        prefix="前言")
        pdf = FakePdf({"abstract": ["前言一种装置"], "claims": ["一种装置", "包括壳体"],
                       "descriptions": ["本发明涉及装置"], "drawings": ["图1"]})
        conv = quorl.PatentConverter(html, pdf)
        assert capsys.readouterr().out == "('debug mapper info:', [0, 2, 10, 0], [0, 6, 14, 21])\n"
        assert conv.difflist == [((2, 10), (6, 14)), ((10, 17), (14, 21))]

    def test_pdf_kind_without_pages_contributes_nothing(self, capsys):
        html = FakeHtml({"cn-bibliographic-info": "摘要", "claims": "权利", "description": "说明",
                         "drawings": "附图"})
        pdf = FakePdf({"abstract": ["摘要"], "descriptions": ["说明"], "drawings": ["附图"]})
        conv = quorl.PatentConverter(html, pdf)
        assert "[0, 2, 2, 4]" in capsys.readouterr().out
        assert conv.difflist == [((0, 2), (0, 2)), ((4, 6), (2, 4)), ((6, 8), (4, 6))]

    def test_mapper_is_looked_up_at_call_time(self, capsys, monkeypatch):
        made = []
        real = quorl.PositionMapper

        def counting(a, b):
            made.append((a, b))
            return real(a, b)

        monkeypatch.setattr(quorl, "PositionMapper", counting)
        html, pdf = small_patent()
        quorl.PatentConverter(html, pdf)
        assert [a for a, _ in made] == [html.get_text(s) for s in SECTIONS]

    def test_failure_keeps_entries_of_earlier_sections(self, capsys, monkeypatch):
        real = quorl.PositionMapper
        calls = []

        def failing_third(a, b):
            calls.append(a)
            if len(calls) == 3:
                raise Exception("Position Mapper init error")
            return real(a, b)

        monkeypatch.setattr(quorl, "PositionMapper", failing_third)
        html, pdf = small_patent()
        mine = []
        with pytest.raises(Exception, match="Position Mapper init error"):
            quorl.PatentConverter(html, pdf, mine)
        expected = reference_difflist(html, pdf)
        claims_end = html.infodict["claims"]["end"]
        assert mine == [e for e in expected if e[0][1] <= claims_end]

    def test_offsets_beyond_64_bits_overflow(self, capsys):
        html = FakeHtml({"claims": "一种装置"})
        html.infodict["claims"]["start"] = 2**63 - 2
        html.get_text = lambda tag=None: "一种装置"
        with pytest.raises(OverflowError):
            quorl.PatentConverter(html, FakePdf({"claims": ["一种装置"]}))

    def test_subclass_mapping_step_is_honoured(self, capsys):
        class Quiet(quorl.PatentConverter):
            def _PatentConverter__init_mapper(self):
                self.difflist.append("custom")

        html, pdf = small_patent()
        assert Quiet(html, pdf).difflist == ["custom"]
        assert capsys.readouterr().out == ""

    def test_info_lists_are_new_and_empty(self, converter):
        a, b = converter.get_pdf_info(), converter.get_pdf_info()
        assert a == [] and a is not b
        c, d = converter.get_html_info(), converter.get_html_info()
        assert c == [] and c is not d and c is not a


class TestConvertMark:
    def test_returns_the_record_with_pdflines(self, converter):
        html = converter.htmldoc
        start = html.text.index("包括壳体")
        mark = {"start": start, "end": start + 4, "type": "par", "title": "1", "extra": [1]}
        out = converter.convert_mark_html2pdf(mark)
        assert out is mark
        assert mark == {"start": start, "end": start + 4, "type": "par", "title": "1",
                        "extra": [1], "pdflines": [(3, [7, 9]), (4, [0, 2])]}

    def test_one_line_and_three_lines(self, converter):
        html, pdf = converter.htmldoc, converter.pdfdoc
        lines = pdf.get_text().split("\n")
        start = html.text.index("技术领域")
        one = converter.convert_mark_html2pdf({"start": start, "end": start + 4})["pdflines"]
        assert one == [(6, [0, 4])]
        start = html.text.index("领域")
        end = html.text.index("技术现有") + 2
        three = converter.convert_mark_html2pdf({"start": start, "end": end})["pdflines"]
        assert three == [(6, [2, 4]), (7, [0, len(lines[7])]), (8, [0, 4])]

    @given(st.data())
    @settings(max_examples=60, deadline=None)
    def test_matches_the_span_functions(self, data):
        html, pdf = small_patent()
        conv = quorl.PatentConverter(html, pdf, reference_difflist(html, pdf))
        start = data.draw(st.integers(0, len(html.text)))
        end = data.draw(st.integers(start, len(html.text)))
        converted = ref.convert_span_a2b((start, end), conv.difflist)
        lineindex = [0]
        for line in pdf.get_text().split("\n"):
            lineindex.append(lineindex[-1] + len(line))
        mark = {"start": start, "end": end}
        if not converted:
            with pytest.raises(IndexError):
                conv.convert_mark_html2pdf(mark)
            assert "pdflines" not in mark
        else:
            expected = ref.convert_span2lines(converted[1], lineindex)
            assert conv.convert_mark_html2pdf(mark)["pdflines"] == expected

    def test_line_index_is_rebuilt_on_every_call(self, converter):
        pdf = converter.pdfdoc
        pdf.get_text_calls.clear()
        mark = {"start": 10, "end": 12}
        first = converter.convert_mark_html2pdf(mark)["pdflines"]
        pdf.kinds["abstract"].insert(0, "")
        second = converter.convert_mark_html2pdf(mark)["pdflines"]
        assert pdf.get_text_calls == [None, None]
        assert second == [(line + 1, span) for line, span in first]

    def test_missing_key_leaves_record_unchanged(self, converter):
        mark = {"start": 3}
        with pytest.raises(KeyError):
            converter.convert_mark_html2pdf(mark)
        assert mark == {"start": 3}

    def test_start_after_end_fails_the_assertion(self, converter):
        with pytest.raises(AssertionError):
            converter.convert_mark_html2pdf({"start": 9, "end": 3})

    def test_unaligned_mark_names_itself(self, converter):
        mark = {"start": 0, "end": 7}  # inside the prefix, outside every section
        with pytest.raises(IndexError) as info:
            converter.convert_mark_html2pdf(mark)
        message = str(info.value)
        assert "from 0 to 7" in message and "aligned with the PDF text" in message
        assert "pdflines" not in mark

    @pytest.mark.parametrize("bad", [{"start": "1", "end": 4}, {"start": 1.0, "end": 4},
                                     {"start": None, "end": 4}])
    def test_non_integer_positions_are_type_errors(self, converter, bad):
        with pytest.raises(TypeError):
            converter.convert_mark_html2pdf(bad)

    def test_not_a_mapping(self, converter):
        with pytest.raises(TypeError):
            converter.convert_mark_html2pdf([1, 2])

    def test_huge_positions_do_not_wrap(self, converter):
        with pytest.raises(OverflowError):
            converter.convert_mark_html2pdf({"start": 2**70, "end": 2**71})

    def test_malformed_supplied_alignment_is_reported(self, capsys):
        html, pdf = small_patent()
        conv = quorl.PatentConverter(html, pdf, [((0, 3),)])
        with pytest.raises(IndexError):
            conv.convert_mark_html2pdf({"start": 0, "end": 2})
        conv = quorl.PatentConverter(html, pdf, [(("a", 3), (0, 3))])
        with pytest.raises(TypeError):
            conv.convert_mark_html2pdf({"start": 0, "end": 2})


class TestMarking:
    def test_mark_pdf_hands_the_list_to_the_pdf(self, converter):
        marks = [{"pdflines": [(0, [0, 1])]}]
        assert converter.mark_pdf(marks) == b"%PDF marked"
        assert converter.pdfdoc.marked == [marks] and converter.pdfdoc.marked[0] is marks

    def test_mark_html_returns_the_html_with_relations(self, converter):
        info = {"cl0001": {"type": "relateitem", "relatelist": [3]}}
        assert converter.mark_html(info) == "<html>marked</html>"
        assert converter.htmldoc.set_info_calls == [info]

    def test_pdf_marker_converts_prints_and_marks(self, converter, capsys):
        html = converter.htmldoc
        start = html.text.index("壳体")
        marks = [{"type": "par", "title": "1", "content": "hello", "start": start,
                  "end": start + 2}, {"type": "cth", "title": "2", "content": "x",
                                      "start": start + 3, "end": start + 5}]
        originals = list(marks)
        assert quorl.pdf_marker(converter, marks) == b"%PDF marked"
        (handed,) = converter.pdfdoc.marked
        assert handed == marks and all(a is b for a, b in zip(handed, originals))
        assert all("pdflines" in m for m in marks)
        assert capsys.readouterr().out == repr(marks) + "\n"

    def test_pdf_marker_with_no_marks(self, converter, capsys):
        assert quorl.pdf_marker(converter, []) == b"%PDF marked"
        assert capsys.readouterr().out == "[]\n"
        assert converter.pdfdoc.marked == [[]]

    def test_pdf_marker_stops_at_the_first_unconvertible_mark(self, converter, capsys):
        good = {"start": 10, "end": 12}
        bad = {"start": 0, "end": 3}
        later = {"start": 20, "end": 22}
        with pytest.raises(IndexError):
            quorl.pdf_marker(converter, [good, bad, later])
        assert capsys.readouterr().out == ""
        assert "pdflines" in good and "pdflines" not in later
        assert converter.pdfdoc.marked == []

    def test_pdf_marker_uses_the_converter_methods(self, capsys):
        class Recording:
            def __init__(self):
                self.seen = []

            def convert_mark_html2pdf(self, mark):
                self.seen.append(mark)
                return {"converted": mark}

            def mark_pdf(self, marklist):
                return ("marked", marklist)

        rec = Recording()
        result = quorl.pdf_marker(rec, iter([1, 2]))
        assert result == ("marked", [{"converted": 1}, {"converted": 2}])
        assert rec.seen == [1, 2]


class TestEntryPoints:
    @pytest.mark.parametrize("value", ["<html/>", b"bytes", None, 3, ["x"]])
    def test_html_format_returns_its_argument(self, value):
        assert quorl.html_format(value) is value

    @pytest.fixture
    def stand_ins(self, monkeypatch):
        made = {"html": [], "pdf": [], "open": []}

        class Html(FakeHtml):
            def __init__(self, content, parserlist=None):
                made["html"].append((content, parserlist))
                html, _ = small_patent()
                self.__dict__.update(vars(html))

        class Pdf(FakePdf):
            def __init__(self, pdffile, markerdict=None):
                made["pdf"].append((pdffile, markerdict))
                _, pdf = small_patent()
                self.__dict__.update(vars(pdf))

        class Fitz:
            @staticmethod
            def open(filetype, data):
                made["open"].append((filetype, data))
                return pymupdf.open(filetype, data)

        monkeypatch.setattr(quorl, "HtmlDocument", Html, raising=False)
        monkeypatch.setattr(quorl, "PdfDocument", Pdf, raising=False)
        monkeypatch.setattr(quorl, "fitz", Fitz)
        for name in ["PARMarker", "CTHMarker", "ImgPARMarker", "ImgIGMarker", "FlagMarker"]:
            monkeypatch.setattr(quorl, name, type(name, (), {}), raising=False)
        return made

    @pytest.fixture
    def pdf_bytes(self):
        doc = pymupdf.open()
        doc.new_page()
        data = doc.tobytes()
        doc.close()
        return data

    def test_builds_the_documents_as_documented(self, stand_ins, pdf_bytes, capsys):
        conv = quorl.get_patent_converter("<html>x</html>", pdf_bytes)
        assert type(conv) is quorl.PatentConverter
        assert stand_ins["html"] == [("<html>x</html>", [{"name": ["img", "div", "h2"]}])]
        assert stand_ins["open"] == [("pdf", pdf_bytes)]
        ((pdffile, markerdict),) = stand_ins["pdf"]
        assert isinstance(pdffile, pymupdf.Document)
        assert list(markerdict) == ["par", "cth", "imgpar", "imgig", "flag"]
        assert [c.__name__ for c in markerdict.values()] == [
            "PARMarker", "CTHMarker", "ImgPARMarker", "ImgIGMarker", "FlagMarker"]
        html, pdf = small_patent()
        assert conv.difflist == reference_difflist(html, pdf)

    def test_each_omitted_difflist_is_new(self, stand_ins, pdf_bytes, capsys):
        first = quorl.get_patent_converter("a", pdf_bytes)
        second = quorl.get_patent_converter("b", pdf_bytes)
        assert first.difflist is not second.difflist
        assert first.difflist == second.difflist != []

    def test_caller_list_receives_the_alignment(self, stand_ins, pdf_bytes, capsys):
        mine = []
        conv = quorl.get_patent_converter("a", pdf_bytes, mine)
        assert conv.difflist is mine and mine
        capsys.readouterr()
        again = quorl.get_patent_converter("a", pdf_bytes, mine)
        assert again.difflist is mine
        assert capsys.readouterr().out == ""

    def test_unreadable_pdf_fails_before_alignment(self, stand_ins, capsys):
        with pytest.raises(Exception):
            quorl.get_patent_converter("<html/>", b"not a pdf at all")
        assert stand_ins["pdf"] == []
        assert capsys.readouterr().out == ""
