#include "core/editor/AutoReplace.h"

#include "core/editor/CodeMemoError.h"
#include "core/editor/KeyStore.h"
#include "core/editor/KeyboardActionContoller.h"

#include <algorithm>
#include <cctype>

namespace morvane::editor {

namespace {

std::vector<std::uint16_t> parseEndKeys(std::string_view text) {
    std::vector<std::uint16_t> keys;
    auto put = [&](std::uint16_t k) {
        if (k != 0xFFFF && std::find(keys.begin(), keys.end(), k) == keys.end()) keys.push_back(k);
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\' || i + 1 >= text.size()) {
            put(keyOfChar(static_cast<unsigned char>(c)));
            continue;
        }
        char e = text[++i];
        switch (e) {
        case 'n':
        case 'r':
            put(13);
            break;
        case 's':
            put(32);
            break;
        case 't':
            put(9);
            break;
        case '{': {
            auto close = text.find('}', i + 1);
            if (close == std::string_view::npos) throw ECodeMemo("Bad key specifier");
            std::string name;
            for (char n : text.substr(i + 1, close - i - 1))
                if (std::isalnum(static_cast<unsigned char>(n))) name.push_back(n);
            put(keyCodeOfName(name));
            i = close;
            break;
        }
        default:
            put(std::uint16_t(keyOfChar(static_cast<unsigned char>(e)) & 0xFF));
            break;
        }
    }
    return keys;
}

} // namespace

TAutoReplace::TAutoReplace() {
    // The end key is part of what the user typed (the blank after a word, a semicolon): it
    // is typed after the replacement, not lost.
    swallowKey = false;
    reset();
}

void TAutoReplace::reset() {
    clearEntries();
    setEndKeyText(kDefaultEndKeys);
}

void TAutoReplace::addReplacement(std::string_view item, std::string_view replacement) {
    std::optional<std::string> e;
    if (!replacement.empty()) e = std::string(replacement);
    addEntry(item, std::nullopt, std::move(e));
}

void TAutoReplace::setEndKeyText(std::string_view text) {
    if (text.size() > kMaxFieldBytes)
        throw ECodeMemo("The end-key text is " + std::to_string(text.size()) +
                        " bytes long; it may have at most 255 bytes.");
    endKeys_ = parseEndKeys(text);
    endKeyText_ = std::string(text);
}

bool TAutoReplace::isTrigger(std::uint16_t key, unsigned shift) const {
    if (endKeyText_.empty()) return false;
    std::uint16_t k = key & 0xFF;
    if (shift & ssShift) k |= 256;
    if (shift & ssCtrl) k |= 512;
    return std::find(endKeys_.begin(), endKeys_.end(), k) != endKeys_.end();
}

void TAutoReplace::saveToStream(BinaryWriter& out) const {
    saveEntries(out);
    out.str8(endKeyText_);
}

void TAutoReplace::loadFromStream(BinaryReader& in) {
    Loaded loaded = readEntries(in);
    std::string text = in.str8();
    std::vector<std::uint16_t> keys = parseEndKeys(text);
    takeEntries(std::move(loaded));
    endKeys_ = std::move(keys);
    endKeyText_ = std::move(text);
}

} // namespace morvane::editor
