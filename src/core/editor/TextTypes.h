#pragma once
// The three position units of the editor. They are all integers, so the names carry the meaning:
// a TextOffset counts characters of the stored text (every line break is one CR), a RecIndex
// counts line records (not physical lines: long lines take several records), a DisplayColumn
// counts screen columns after TAB expansion.

#include <cstdint>

namespace morvane::editor {

using TextOffset = std::int64_t;
using RecIndex = std::int64_t;
using DisplayColumn = std::int32_t;

inline constexpr char kCR = 13;
inline constexpr char kLF = 10;
inline constexpr char kTAB = 9;

// Inserting cuts a record after this many characters.
inline constexpr int kMaxInsertRecord = 2047;
// Re-wrapping cuts an over-long physical line into pieces of this size.
inline constexpr int kMaxWrapRecord = 2048;
// Text is fed into the chain in pieces of this size when read from a stream.
inline constexpr int kLoadBlock = 8192;

// TLineRec::flags
inline constexpr std::uint32_t lfRepaint = 1u << 0;
inline constexpr std::uint32_t lfStale = 1u << 1;
inline constexpr std::uint32_t lfHasTab = 1u << 2;
inline constexpr std::uint32_t lfHasAttrs = 1u << 3; // private: the record has token bytes
inline constexpr std::uint32_t lfHighlighterFirst = 1u << 4;

// TLineRec::mark
inline constexpr std::uint16_t kBookmarkBits = 0x03FF;
inline constexpr std::uint16_t kContinuation = 4096;

// How the line breaks of a file are written back.
enum class TLineEnd { leLF, leCRLF, leCR };

} // namespace morvane::editor
