"""Fuzzes PositionMapper and the span functions against difflib and the plain Python versions."""

import difflib

import atheris
from common import check, consume_int, consume_text, main, seed_fields, tolerant

with atheris.instrument_imports():
    import align_reference as ref

import quorl


def outcome(fn, *args):
    try:
        return ("ok", fn(*args))
    except SystemError:
        raise
    except OverflowError:
        return ("overflow", None)
    except Exception as e:
        return ("error", type(e).__name__)


def same(compiled, reference, *args):
    got, want = outcome(compiled, *args), outcome(reference, *args)
    if got[0] == "overflow":
        return  # a value beyond 64 bits may be refused
    if want[0] == "ok":
        check(got == want, compiled.__name__, args, got, want)
    else:
        check(got[0] == "error", compiled.__name__, args, got, want)


def reference_a2b(sa, spandiff):
    assert sa[0] <= sa[1]
    return ref.convert_span_a2b(sa, spandiff)


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    real = seed_fields(data, 2)
    if real:
        # An HTML section's text against the PDF's lines of it.
        a, b = real[0], real[1].split("\n") if fdp.ConsumeBool() else real[1]
    else:
        lines_a = [consume_text(fdp, 12) for _ in range(fdp.ConsumeIntInRange(0, 4))]
        lines_b = [consume_text(fdp, 12) for _ in range(fdp.ConsumeIntInRange(0, 4))]
        a = lines_a if fdp.ConsumeBool() else "\n".join(lines_a)
        b = lines_b if fdp.ConsumeBool() else "\n".join(lines_b)
    m = tolerant(quorl.PositionMapper, a, b)
    if m is not None:
        check(m.difflist == difflib.SequenceMatcher(None, m.a_text, m.b_text, None).get_opcodes(),
              "opcodes differ from difflib", a, b)
        for (a0, a1), (b0, b1) in m.spandiff:
            # Pairs merge across single substitutions, so only the lengths must agree.
            check(a1 - a0 == b1 - b0 and 0 <= a0 <= a1 <= len(m.a_text), "bad span pair", a, b)
        tolerant(quorl.get_relation_list, m)
        tolerant(quorl.get_relation_by_line, consume_int(fdp), m)
        tolerant(m.getdiffviewtext)
        tolerant(m.get_relation_split_line, m.difflist, fdp.ConsumeBool())
        tolerant(m.get_relation_format, m.difflist, consume_int(fdp))
        # The same methods over opcodes the caller made up.
        ops = [(fdp.PickValueInList(["equal", "replace", "insert", "delete", "x"]),
                consume_int(fdp), consume_int(fdp), consume_int(fdp), consume_int(fdp))
               for _ in range(fdp.ConsumeIntInRange(0, 4))]
        tolerant(m.get_relation_split_line, ops, fdp.ConsumeBool())
        tolerant(m.get_relation_format, ops, consume_int(fdp))
        m.difflist = ops
        tolerant(quorl.get_relation_list, m)
        tolerant(m.getdiffviewtext)

    spans = [(consume_int(fdp), consume_int(fdp)) for _ in range(fdp.ConsumeIntInRange(0, 6))]
    pairs = [((consume_int(fdp), consume_int(fdp)), (consume_int(fdp), consume_int(fdp)))
             for _ in range(fdp.ConsumeIntInRange(0, 6))]
    sa = (consume_int(fdp), consume_int(fdp))
    index = [consume_int(fdp) for _ in range(fdp.ConsumeIntInRange(0, 6))]
    same(quorl.span_binary_search, ref.span_binary_search, spans, consume_int(fdp), fdp.ConsumeBool())
    same(quorl.convert_span_a2b, reference_a2b, sa, pairs)
    same(quorl.convert_span2lines, ref.convert_span2lines, sa, index)
    tolerant(quorl.convert_position_a2b, consume_int(fdp), pairs)
    tolerant(quorl.check_span, consume_int(fdp), consume_int(fdp), consume_int(fdp))
    text = consume_text(fdp, 20)
    got = tolerant(quorl.get_span_text, sa, text)
    check(got == text[sa[0]:sa[1]].replace("\n", ""), "get_span_text", sa, text, got)


if __name__ == "__main__":
    main(test_one_input)
