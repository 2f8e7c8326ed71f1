#pragma once
// A read-only cursor over the record chain, read like a stream. Word detection, auto-replace
// and search walk the text through it.

#include "core/editor/Streams.h"
#include "core/editor/TextStore.h"

namespace morvane::editor {

class TCustomEdStream : public TStream {
public:
    // The character at the position; 0 when past the record's end.
    virtual char CurrentChar() = 0;
    virtual TextOffset GetPos() = 0;
    virtual void SetPos(TextOffset pos) = 0;
    virtual bool AtEnd() = 0;
    // Step one character and return the character then current.
    virtual char NextChar() = 0;
    virtual char PrevChar() = 0;
};

class TEdStream : public TCustomEdStream {
public:
    explicit TEdStream(const TTextStore& store);

    char CurrentChar() override;
    TextOffset GetPos() override { return Refresh(), cur_.start + static_cast<TextOffset>(inRec_); }
    void SetPos(TextOffset pos) override;
    bool AtEnd() override { return GetPos() >= length_; }
    char NextChar() override;
    char PrevChar() override;

    // Re-aims at a record and takes the current total length.
    void Reset(RecIndex rec, TextOffset offsetInRec, TextOffset recStart);
    void Reset() { Reset(0, 0, 0); }
    TextOffset RememberedLength() const { return length_; }

    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    // soEnd counts back from the remembered length: the result is length - offset.
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return length_; }

private:
    void Refresh();
    std::size_t RecLen() const;

    const TTextStore& store_;
    TTextStore::Cursor cur_;
    std::size_t inRec_ = 0;
    TextOffset length_ = 0;
    std::uint64_t generation_ = 0;
};

} // namespace morvane::editor
