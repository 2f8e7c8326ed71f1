#include "core/editor/PositionMarks.h"

#include "core/editor/TextStore.h"

#include <algorithm>
#include <memory>

namespace morvane::editor {

namespace {
// The track calls back into its manager when its record frees it.
class ManagedTrack final : public TLineTrack {
public:
    using TLineTrack::TLineTrack;
    ~ManagedTrack() override {
        if (Manager) Manager->Freed(this);
    }
};
} // namespace

std::size_t TMarkList::Resort(std::size_t i) {
    TPositionMark m = marks_[i];
    marks_.erase(marks_.begin() + i);
    auto it = std::upper_bound(marks_.begin(), marks_.end(), m.start,
                               [](TextOffset s, const TPositionMark& x) { return s < x.start; });
    return static_cast<std::size_t>(marks_.insert(it, m) - marks_.begin());
}

std::size_t TMarkList::Add(TextOffset start, TextOffset end, std::uint8_t flag,
                           std::uint32_t value) {
    if (start > end) std::swap(start, end);
    marks_.push_back({start, end, flag, value});
    return Resort(marks_.size() - 1);
}

std::size_t TMarkList::SetRange(std::size_t index, TextOffset start, TextOffset end) {
    if (start > end) std::swap(start, end);
    marks_[index].start = start;
    marks_[index].end = end;
    return Resort(index);
}

void TMarkList::Remove(std::size_t index) {
    marks_.erase(marks_.begin() + index);
}

void TMarkList::TextInserted(TextOffset at, TextOffset length, const Notify& changed) {
    for (auto& m : marks_) {
        if (m.start >= at) {
            m.start += length;
            m.end += length;
        } else if (m.end > at) {
            m.end += length;
        } else {
            continue;
        }
        if (changed) changed(m);
    }
}

void TMarkList::TextDeleted(TextOffset from, TextOffset to, const Notify& changed,
                            const Notify& freed) {
    TextOffset len = to - from;
    std::vector<TPositionMark> kept;
    kept.reserve(marks_.size());
    for (auto m : marks_) {
        if (m.end <= from) {
            kept.push_back(m);
            continue;
        }
        if (m.start >= from && m.end <= to) {
            if (freed) freed(m);
            continue;
        }
        // What lay inside the range is cut out of the mark; what lay after it moves back.
        auto shift = [&](TextOffset p) { return p <= from ? p : p >= to ? p - len : from; };
        m.start = shift(m.start);
        m.end = shift(m.end);
        kept.push_back(m);
        if (changed) changed(m);
    }
    marks_ = std::move(kept);
}

void TMarkList::Clear(const Notify& freed) {
    auto old = std::move(marks_);
    marks_.clear();
    if (freed)
        for (auto& m : old)
            freed(m);
}

TLineTrack* TLineTrackManager::Add(RecIndex rec) {
    auto track = std::make_unique<ManagedTrack>(nextId_++);
    track->Manager = this;
    TLineTrack* raw = track.get();
    store_.SetTrack(rec, std::move(track));
    if (OnTrackAdd) OnTrackAdd(raw->TrackID);
    return raw;
}

RecIndex TLineTrackManager::LineOf(int trackId) const {
    // Tracks are few; a walk over the chain is fine for an occasional question.
    TTextStore::Cursor c = store_.CursorAt(0);
    for (; !store_.AtEnd(c); store_.Next(c)) {
        if (!store_.HasExtra(c)) continue;
        TLineTrack* t = store_.Track(c.rec);
        if (t && t->TrackID == trackId) return c.rec;
    }
    return -1;
}

void TLineTrackManager::Freed(TLineTrack* track) {
    if (OnTrackFree) OnTrackFree(track->TrackID);
}

} // namespace morvane::editor
