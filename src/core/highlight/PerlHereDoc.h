#pragma once
// The custom parse routine the program attaches to the Perl highlighter: here-documents.
//   type 1  the introducer's tail after "<<": reads the terminator word and the rest of the line
//   type 2  the body up to (not including) the terminator, token 18
//   type 3  the terminator line's start through the terminator, token 20
// The terminator is kept in the engine's customData, so it is part of the engine's state and is
// shared by every editor that uses the highlighter.

#include "core/highlight/CodeMemoEngine.h"

namespace morvane::highlight {

constexpr std::size_t kMaxHereDocTerminator = 255;

bool hlPerlCustomParse(TCodeMemoEngine& sender, int type, std::uint8_t& token, std::size_t& length,
                       TScanStream& stream);

} // namespace morvane::highlight
