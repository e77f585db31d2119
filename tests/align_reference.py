"""Deliberately plain Python versions of the span and line-relation algorithms.

They follow the documented steps literally and serve as the oracle the compiled functions are
compared with on generated inputs.
"""


def span_binary_search(spanlist, value, exact=False):
    if not spanlist:
        return -1
    maxidx, minidx = len(spanlist) - 1, 0
    tmpidx = (maxidx + minidx) // 2
    while maxidx > minidx:
        if spanlist[tmpidx][0] > value:
            maxidx = tmpidx - 1
        elif spanlist[tmpidx][1] < value:
            minidx = tmpidx + 1
        else:
            return tmpidx
        tmpidx = (maxidx + minidx) // 2
    if exact or tmpidx == -1:
        return -1
    return tmpidx - 1 if spanlist[tmpidx][0] > value else tmpidx


def convert_span_a2b(sa, spandiff):
    salist = [p[0] for p in spandiff]
    idx_s = span_binary_search(salist, sa[0])
    idx_e = span_binary_search(salist, sa[1])
    cands = [p for p in spandiff[max(idx_s, 0):idx_e + 1] if p[0][0] <= sa[1] and p[0][1] >= sa[0]]
    if not cands:
        return []
    newsa_s = max(cands[0][0][0], sa[0])
    newsa_e = min(cands[-1][0][1], sa[1])
    dropped_tail = None
    if newsa_e - newsa_s > 0:
        if sa[0] == cands[0][0][1]:
            cands = cands[1:]
        if cands and sa[1] == cands[-1][0][0]:
            dropped_tail = cands[-1]
            cands = cands[:-1]
        if not cands:
            return []
    # A start in text only a has is carried to the first kept pair; an end past the last kept
    # pair reaches into b's unaligned run before the dropped pair, no further.
    sb_s = cands[0][1][0] + max(newsa_s - cands[0][0][0], 0)
    overhang = newsa_e - cands[-1][0][1]
    if dropped_tail:
        overhang = min(overhang, dropped_tail[1][0] - cands[-1][1][1])
    sb_e = cands[-1][1][1] + overhang
    return ((newsa_s, newsa_e), (sb_s, sb_e))


def convert_span2lines(span, lineindex):
    if not span:
        return []
    out = []
    idx_start = lineindex[0]
    for idx, idx_end in enumerate(lineindex[1:]):
        if (idx_end - span[0]) * (span[1] - idx_start) > 0:
            out.append((idx, [max(span[0] - idx_start, 0), min(idx_end - idx_start, span[1] - idx_start)]))
        idx_start = idx_end
    return out


def split_line(opcodes, a_index, b_index):
    pieces = []
    aidx = bidx = 1
    for es in (op for op in opcodes if op[0] == "equal"):
        ab, ae, bb = es[1], es[2], es[-2]
        while ab > a_index[aidx]:
            aidx += 1
        while bb > b_index[bidx]:
            bidx += 1
        if ab == ae:
            continue
        while ae > ab:
            len_a, len_b, len_ab = a_index[aidx] - ab, b_index[bidx] - bb, ae - ab
            if len_a <= 0:
                aidx += 1
                continue
            if len_b <= 0:
                bidx += 1
                continue
            inc = min(len_a, len_b, len_ab)
            a0, b0 = ab - a_index[aidx - 1], bb - b_index[bidx - 1]
            pieces.append([(aidx - 1, a0, a0 + inc), (bidx - 1, b0, b0 + inc)])
            ab += inc
            bb += inc
            if a_index[aidx] - ab <= 0:
                aidx += 1
            if b_index[bidx] - bb <= 0:
                bidx += 1
    return pieces
