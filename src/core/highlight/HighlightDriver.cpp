#include "core/highlight/HighlightDriver.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace morvane::highlight {

using editor::kCR;
using editor::lfHighlighterFirst;
using editor::lfRepaint;
using editor::lfStale;
using editor::TTextStore;

std::size_t THighlightPassRunner::Margin(const TCodeMemoEngine& engine) {
    const TParserDefinition& def = engine.definition();
    std::size_t words = def.keywords.wordCount() + def.settings.extraKeywords().wordCount();
    if (marginFor_ != &def || marginWords_ != words || marginMin_ != sizes.minMargin) {
        std::size_t longest = 0;
        auto measure = [&](const std::string& w, const editor::KeywordEntry&) {
            longest = std::max(longest, w.size());
        };
        def.keywords.forEach(measure);
        def.settings.extraKeywords().forEach(measure);
        // 255: a here-document terminator is compared beyond the token that ends before it.
        margin_ = std::max<std::size_t>(sizes.minMargin, longest + 255 + 16);
        marginFor_ = &def;
        marginWords_ = words;
        marginMin_ = sizes.minMargin;
    }
    return margin_;
}

namespace {
// Bytes of out beyond the window's text, so that a short token is filled by one store.
constexpr std::size_t kFillSlack = 8;
} // namespace

THighlightResult THighlightPassRunner::Run(TTextStore& store, TCodeMemoEngine& engine,
                                           TEngineStateTable& states, const THighlightPass& pass,
                                           const TTokenSink& seen) {
    THighlightResult res;
    const RecIndex count = store.Count();
    if (count == 0 || pass.start >= count) return res;

    // Restart at the nearest record whose starting state is known; the first record starts in
    // the state of SetContext(0).
    TTextStore::Cursor fc = store.CursorAt(std::max<RecIndex>(pass.start, 0));
    const TEngineState* known = nullptr;
    while (fc.rec > 0 && !(known = states.Find(TEngineStateTable::IdOf(store.Rec(fc).flags))))
        store.Prev(fc);
    if (known)
        engine.RestoreState(*known);
    else
        engine.SetContext(0);
    const RecIndex restartRec = fc.rec;
    res.restart = fc.start;
    // One record more in front, for a routine that looks at the character before its token.
    const RecIndex windowRec = restartRec > 0 ? restartRec - 1 : 0;
    const std::size_t margin = Margin(engine);

    std::string text;              // the window: records from windowRec on
    std::vector<std::uint8_t> out; // new token bytes, parallel to text
    std::vector<TextOffset> ends;  // end offset of each record in the window, from windowRec
    TTextStore::Cursor fill = store.CursorAt(windowRec);
    const TextOffset windowStart = fill.start;
    TextOffset base = windowStart; // text offset of text[0]
    bool whole = false;            // the window reaches the end of the text
    auto grow = [&](std::size_t want) {
        const std::size_t most = want + sizes.lineWindow;
        while (!whole && (text.size() < want || (text.back() != kCR && text.size() < most))) {
            std::string_view t = store.Text(fill);
            text.append(t);
            ends.push_back(fill.start + static_cast<TextOffset>(t.size()));
            if (!store.Next(fill)) whole = true;
        }
        out.resize(text.size() + kFillSlack);
        largestWindow_ = std::max(largestWindow_, text.size());
    };

    std::size_t pos = static_cast<std::size_t>(res.restart - base);
    grow(pos + margin + sizes.firstWindow);
    std::size_t k = static_cast<std::size_t>(restartRec - windowRec); // next record to finish
    auto recStart = [&](std::size_t i) { return i == 0 ? windowStart : ends[i - 1]; };

    if (seen) seen(0, -1, -1);

    struct Checkpoint {
        std::size_t pos;
        TEngineState state;
        std::size_t k;
        TTextStore::Cursor fc;
        std::uint64_t tokens;
    };
    std::uint64_t tokens = 0, reported = 0;
    Checkpoint ck{pos, engine.SaveState(), k, fc, 0};
    std::size_t finishedK = k; // records below this index were finished (a re-read skips them)

    // Stores record i's new bytes when they changed, and the state the next record starts in;
    // true when that record started in this state before as well.
    auto finish = [&](std::size_t i, bool boundary) {
        std::size_t from = static_cast<std::size_t>(recStart(i) - base);
        std::size_t n = static_cast<std::size_t>(ends[i] - recStart(i));
        const std::uint8_t* old = store.Attrs(fc);
        RecIndex rec = windowRec + static_cast<RecIndex>(i);
        if (!old || std::memcmp(old, out.data() + from, n) != 0) {
            store.SetAttrs(fc, out.data() + from);
            auto& r = store.Rec(fc);
            r.flags = (r.flags | lfRepaint) & ~(lfStale | lfHighlighterFirst);
            if (res.firstChanged < 0) res.firstChanged = rec;
            res.lastChanged = rec;
        }
        res.done = rec;
        store.Next(fc);
        if (store.AtEnd(fc)) return false;
        auto& next = store.Rec(fc);
        std::uint32_t id = boundary ? states.Intern(engine) : TEngineStateTable::kUnknown;
        bool same = id != TEngineStateTable::kUnknown &&
                    id == TEngineStateTable::IdOf(next.flags) && (next.flags & editor::lfHasAttrs);
        next.flags = TEngineStateTable::WithId(next.flags, id);
        return same;
    };

    // Kept in step with the window: the last trusted end of a token, the end of the next record
    // to finish, and where the next checkpoint is due.
    std::size_t safeEnd = 0, nextEnd = 0;
    auto refresh = [&] {
        safeEnd = whole ? SIZE_MAX : text.size() - margin;
        nextEnd = k < ends.size() ? std::size_t(ends[k] - base) : SIZE_MAX;
    };
    refresh();
    std::size_t checkpointAt = pos + sizes.checkpointEvery;

    for (;;) {
        if (pos > safeEnd) {
            grow(text.size() + sizes.growBy);
            engine.RestoreState(engine.SaveState()); // the text is longer: nothing cached holds
            refresh();
        }
        if (pos >= text.size()) break;
        const std::size_t tokenStart = pos;
        const bool wasInside = engine.InContainer();
        TScanStream s(text, pos);
        std::size_t length = 0;
        const std::uint8_t t = engine.GetToken(s, length);
        const std::size_t end = std::max(s.position(), tokenStart + 1);
        if (end > safeEnd) {
            // The token may depend on text the window does not hold yet.
            engine.RestoreState(ck.state);
            pos = ck.pos;
            k = ck.k;
            fc = ck.fc;
            tokens = ck.tokens;
            grow(2 * text.size() + sizes.growBy);
            refresh();
            continue;
        }
        ++tokens;
        if (end - tokenStart <= kFillSlack) {
            // Most tokens are short: one store of eight bytes. What it writes past the token is
            // written again by the tokens that follow before any record takes it.
            const std::uint64_t eight = 0x0101010101010101ull * t;
            std::memcpy(out.data() + tokenStart, &eight, kFillSlack);
        } else {
            std::memset(out.data() + tokenStart, t, end - tokenStart);
        }
        if (seen && tokens > reported) {
            seen(t, base + TextOffset(tokenStart), base + TextOffset(end));
            reported = tokens;
        }
        pos = end;
        // A container's text is scanned again with the container's states.
        if (!wasInside && engine.InContainer()) pos = tokenStart;

        if (pos >= nextEnd) {
            bool finished = false, converged = false;
            while (k < ends.size() && ends[k] - base <= TextOffset(pos)) {
                if (k >= finishedK) {
                    converged = finish(k, ends[k] - base == TextOffset(pos));
                    finished = true;
                    finishedK = k + 1;
                } else {
                    store.Next(fc);
                }
                ++k;
            }
            refresh();
            if (finished) {
                RecIndex next = windowRec + RecIndex(k);
                if (converged && next > pass.stopFrom) break;
                if (pass.limit >= 0 && next >= pass.limit) {
                    if (next < count) res.next = next;
                    break;
                }
            }
        }
        if (pos >= checkpointAt) {
            std::size_t keepFrom = k < ends.size() ? std::size_t(recStart(k) - base) : pos;
            if (!engine.InContainer() && keepFrom > sizes.dropFinishedAt && keepFrom <= pos) {
                std::size_t cut = keepFrom - 1; // one character stays for a look back
                text.erase(0, cut);
                out.erase(out.begin(), out.begin() + std::ptrdiff_t(cut));
                base += TextOffset(cut);
                pos -= cut;
                engine.RestoreState(engine.SaveState());
                refresh();
            }
            ck = {pos, engine.SaveState(), k, fc, tokens};
            checkpointAt = pos + sizes.checkpointEvery;
        }
    }
    if (seen) seen(0, -2, -2);
    return res;
}

void THighlightDriver::TextEdited(TextOffset start, TextOffset extent) {
    for (TextOffset& p : pending_) {
        if (extent >= 0) {
            if (p > start) p += extent;
        } else if (p >= start - extent) {
            p += extent;
        } else if (p > start) {
            p = start;
        }
    }
    pending_.erase(std::unique(pending_.begin(), pending_.end()), pending_.end());
}

RecIndex THighlightDriver::PendingRecord(const TTextStore& store) const {
    if (pending_.empty() || store.Empty()) return -1;
    RecIndex rec = store.Locate(pending_.front()).rec;
    return rec < store.Count() ? rec : -1;
}

THighlightResult THighlightDriver::RunFrom(TTextStore& store, TCodeMemoEngine& engine,
                                           TEngineStateTable& states, const THighlightPass& pass,
                                           const TTokenSink& seen) {
    THighlightResult res = runner_.Run(store, engine, states, pass, seen);
    const TextOffset length = store.Length();
    TextOffset doneEnd = res.done >= 0 ? store.Start(res.done + 1) : -1;
    std::erase_if(pending_, [&](TextOffset p) { return p < doneEnd || p >= length; });
    if (res.next >= 0) {
        TextOffset p = store.Start(res.next);
        auto at = std::lower_bound(pending_.begin(), pending_.end(), p);
        if (at == pending_.end() || *at != p) pending_.insert(at, p);
    }
    return res;
}

THighlightResult THighlightDriver::Rehighlight(TTextStore& store, TCodeMemoEngine& engine,
                                               TEngineStateTable& states, RecIndex dirty,
                                               RecIndex limit, const TTokenSink& seen) {
    if (store.Empty() || dirty < 0) {
        pending_.clear();
        return {};
    }
    dirty = std::min(dirty, store.Count() - 1);
    THighlightPass pass{dirty, dirty, limit >= 0 ? dirty + limit : -1};
    // States after an unfinished point are not to be trusted as a restart point.
    if (RecIndex first = PendingRecord(store); first >= 0 && first < dirty) pass.start = first;
    return RunFrom(store, engine, states, pass, seen);
}

bool THighlightDriver::Continue(TTextStore& store, TCodeMemoEngine& engine,
                                TEngineStateTable& states, RecIndex maxRecords,
                                const TTokenSink& seen, THighlightResult* result) {
    RecIndex first = PendingRecord(store);
    if (first < 0) {
        pending_.clear();
        return false;
    }
    THighlightResult res = RunFrom(store, engine, states,
                                   {first, first, first + std::max<RecIndex>(maxRecords, 1)}, seen);
    if (result) *result = res;
    return Pending();
}

void THighlightDriver::EnsureHighlightedThrough(TTextStore& store, TCodeMemoEngine& engine,
                                                TEngineStateTable& states, RecIndex rec,
                                                const TTokenSink& seen) {
    for (RecIndex first = PendingRecord(store); first >= 0 && first <= rec;
         first = PendingRecord(store))
        RunFrom(store, engine, states, {first, first, std::max(rec + 1, first + 1)}, seen);
    if (PendingRecord(store) < 0) pending_.clear();
}

} // namespace morvane::highlight
