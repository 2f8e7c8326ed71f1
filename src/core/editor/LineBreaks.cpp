#include "core/editor/LineBreaks.h"

#include "core/editor/ByteScan.h"

#include <cstring>

namespace morvane::editor {

void LineBreakNormaliser::Seen(char c, bool paired) {
    if (first_) return;
    if (c == kCR)
        first_ = paired ? TLineEnd::leCRLF : TLineEnd::leCR;
    else
        first_ = TLineEnd::leLF; // LF, or the rare LF CR pair
}

void LineBreakNormaliser::Feed(std::string_view in, std::string& out) {
    if (in.empty()) return;
    const char* p = in.data();
    const char* end = p + in.size();
    if (pending_ && p < end) {
        char other = pending_ == kCR ? kLF : kCR;
        bool paired = *p == other;
        Seen(pending_, paired);
        out.push_back(kCR);
        if (paired) ++p;
        pending_ = 0;
    }
    if (p == end) return;
    if (!std::memchr(p, kCR, static_cast<std::size_t>(end - p))) {
        // No CR (most files): each LF is a break of its own, and the bytes are copied in bulk with
        // the LFs turned into CRs. An LF at the end waits: a CR may follow in the next piece.
        const char* stop = end[-1] == kLF ? end - 1 : end;
        const std::size_t at = out.size();
        out.append(p, static_cast<std::size_t>(stop - p));
        if (ReplaceBytes(out.data() + at, out.size() - at, kLF, kCR)) Seen(kLF, false);
        if (stop < end) pending_ = kLF;
        return;
    }
    // memchr finds the breaks far faster than a byte loop; most bytes are copied in bulk.
    auto find = [end](const char* from, char c) {
        auto* q =
            static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(end - from)));
        return q ? q : end;
    };
    const char* nextCR = find(p, kCR);
    const char* nextLF = find(p, kLF);
    while (p < end) {
        const char* brk = nextCR < nextLF ? nextCR : nextLF;
        out.append(p, static_cast<std::size_t>(brk - p));
        if (brk == end) break;
        char c = *brk;
        if (brk + 1 == end) {
            pending_ = c;
            break;
        }
        char other = c == kCR ? kLF : kCR;
        bool paired = brk[1] == other;
        Seen(c, paired);
        out.push_back(kCR);
        p = brk + (paired ? 2 : 1);
        if (nextCR < p) nextCR = find(p, kCR);
        if (nextLF < p) nextLF = find(p, kLF);
    }
}

void LineBreakNormaliser::Finish(std::string& out) {
    if (!pending_) return;
    Seen(pending_, false);
    out.push_back(kCR);
    pending_ = 0;
}

std::string NormaliseLineBreaks(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    LineBreakNormaliser n;
    n.Feed(in, out);
    n.Finish(out);
    return out;
}

void AppendWithLineEnds(std::string_view stored, TLineEnd end, std::string& out) {
    if (end == TLineEnd::leCR) {
        out.append(stored);
        return;
    }
    std::size_t i = 0;
    while (i < stored.size()) {
        std::size_t j = stored.find(kCR, i);
        if (j == std::string_view::npos) {
            out.append(stored.substr(i));
            break;
        }
        out.append(stored.substr(i, j - i));
        out.append(end == TLineEnd::leCRLF ? "\r\n" : "\n");
        i = j + 1;
    }
}

} // namespace morvane::editor
