// libFuzzer entry for the search engine: the first byte says how many of the following bytes
// are the pattern; the rest is the text. Compiling may fail with an error and a search may stop
// as too complex; anything else (a crash, a hang, a match outside the text) is a finding.
#include "core/highlight/REParser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane::highlight;
    if (size == 0) return 0;
    const std::size_t patternLength = std::min<std::size_t>(data[0], size - 1);
    const std::string_view all(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string_view pattern = all.substr(0, patternLength);
    const std::string_view text = all.substr(patternLength);

    TREParser re;
    re.SetLimits(200000, 1000);
    re.SetUtf8(data[0] & 1); // the length byte's low bit: UTF-8 text or bytes
    if (!re.SetExpression(pattern)) {
        if (re.ErrorNumber() == TREError::None || re.ErrorPosition() == 0 ||
            re.ErrorPosition() > pattern.size() + 1)
            std::abort();
        return 0;
    }
    auto check = [&] {
        if (re.MatchStart() > re.MatchEnd() || re.MatchEnd() > text.size()) std::abort();
        for (int n = 1; n <= re.PieceCount() && n < 256; ++n)
            if (re.PieceStart(n) > re.PieceEnd(n) || re.PieceEnd(n) > text.size()) std::abort();
    };
    int budget = 64;
    re.ForEachMatch(text, 0, [&](std::size_t, std::size_t) {
        check();
        return --budget > 0;
    });
    if (re.Search(text, text.size(), false)) check();
    if (re.Search(text, text.size() / 2, true)) check();
    return 0;
}
