#include "core/editor/EdStream.h"

#include <algorithm>
#include <cstring>

namespace morvane::editor {

TEdStream::TEdStream(const TTextStore& store) : store_(store) {
    Reset();
}

// An edit since the last reset may have moved the records; find the position again.
void TEdStream::Refresh() {
    if (generation_ == store_.Generation()) return;
    TextOffset pos = std::min(cur_.start + static_cast<TextOffset>(inRec_), store_.Length());
    generation_ = store_.Generation();
    SetPos(pos);
}

std::size_t TEdStream::RecLen() const {
    return store_.AtEnd(cur_) ? 0 : store_.Text(cur_).size();
}

void TEdStream::Reset(RecIndex rec, TextOffset offsetInRec, TextOffset recStart) {
    length_ = store_.Length();
    generation_ = store_.Generation();
    if (store_.Empty()) {
        cur_ = store_.CursorAt(0);
        inRec_ = 0;
        return;
    }
    rec = std::clamp<RecIndex>(rec, 0, store_.Count() - 1);
    cur_ = store_.CursorAt(rec);
    (void)recStart; // the cursor knows the record's start
    inRec_ = static_cast<std::size_t>(std::clamp<TextOffset>(offsetInRec, 0, RecLen()));
}

void TEdStream::SetPos(TextOffset pos) {
    generation_ = store_.Generation();
    if (store_.Empty()) {
        cur_ = store_.CursorAt(0);
        inRec_ = 0;
        return;
    }
    pos = std::clamp<TextOffset>(pos, 0, store_.Length());
    auto where = store_.Locate(pos);
    // Past the last record's CR the cursor stays on the last record, after its end.
    if (where.rec >= store_.Count()) where.rec = store_.Count() - 1;
    cur_ = store_.CursorAt(where.rec);
    inRec_ = static_cast<std::size_t>(pos - cur_.start);
}

char TEdStream::CurrentChar() {
    Refresh();
    if (store_.AtEnd(cur_)) return 0;
    std::string_view t = store_.Text(cur_);
    return inRec_ < t.size() ? t[inRec_] : 0;
}

char TEdStream::NextChar() {
    Refresh();
    if (store_.AtEnd(cur_)) return 0;
    if (inRec_ + 1 < RecLen()) {
        ++inRec_;
    } else {
        TTextStore::Cursor next = cur_;
        if (store_.Next(next)) {
            cur_ = next;
            inRec_ = 0;
        } else {
            inRec_ = RecLen();
        }
    }
    return CurrentChar();
}

char TEdStream::PrevChar() {
    Refresh();
    if (inRec_ > 0) {
        --inRec_;
    } else {
        TTextStore::Cursor prev = cur_;
        if (store_.Prev(prev)) {
            cur_ = prev;
            inRec_ = RecLen() - 1;
        }
    }
    return CurrentChar();
}

std::size_t TEdStream::Read(void* buffer, std::size_t count) {
    Refresh();
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count && GetPos() < length_ && !store_.AtEnd(cur_)) {
        std::string_view t = store_.Text(cur_);
        std::size_t n = std::min(count - done, t.size() - inRec_);
        n = std::min<std::size_t>(n, static_cast<std::size_t>(length_ - GetPos()));
        std::memcpy(out + done, t.data() + inRec_, n);
        done += n;
        inRec_ += n;
        if (inRec_ == t.size()) {
            TTextStore::Cursor next = cur_;
            if (!store_.Next(next)) break;
            cur_ = next;
            inRec_ = 0;
        }
    }
    return done;
}

std::size_t TEdStream::Write(const void*, std::size_t) {
    throw EStreamError(kReadOnlyStream);
}

std::int64_t TEdStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    switch (origin) {
    case TSeekOrigin::soBeginning:
        SetPos(offset);
        break;
    case TSeekOrigin::soCurrent:
        SetPos(GetPos() + offset);
        break;
    case TSeekOrigin::soEnd:
        SetPos(length_ - offset);
        break;
    }
    return GetPos();
}

} // namespace morvane::editor
