#include "core/editor/CodeTemplates.h"

#include "core/editor/CodeMemoError.h"
#include "core/editor/KeyStore.h"

namespace morvane::editor {

void TCodeTemplates::addTemplate(std::string_view name, std::string_view description,
                                 std::string_view expansion) {
    std::optional<std::string> d, e;
    if (!description.empty()) d = std::string(description);
    if (!expansion.empty()) e = std::string(expansion);
    addEntry(name, std::move(d), std::move(e));
}

std::optional<std::string> TCodeTemplates::findExpansion(std::string_view name) const {
    const MacroEntry* e = entry(name);
    if (!e) return std::nullopt;
    return e->expansion.value_or(std::string());
}

void TCodeTemplates::assign(const TCodeTemplates& source) {
    if (std::string_view(source.className()) != className())
        throw ECodeMemo(std::string("Cannot assign ") + source.className() + " to " + className());
    if (&source == this) return;
    std::string bytes = source.saveToString();
    BinaryReader in(bytes);
    loadFromStream(in);
}

void TCodeTemplates::saveEntries(BinaryWriter& out) const {
    out.u32(std::uint32_t(entries_.size()));
    for (const auto& [name, e] : entries_) {
        out.str8(name);
        out.str8(e.description.value_or(std::string()));
        out.str32(e.expansion.value_or(std::string()));
    }
    out.str32(shortCutToText(hotkey));
    out.u32(std::uint32_t(enabled & 127));
}

TCodeTemplates::Loaded TCodeTemplates::readEntries(BinaryReader& in) {
    Loaded loaded;
    std::uint32_t count = in.u32();
    // Every entry takes at least its three lengths: a count the bytes left cannot hold is
    // refused before any work, so a damaged count cannot make the loop run for long.
    if (count > in.left() / 6) throw EStreamError("Stream read error");
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string name = in.str8();
        std::string description = in.str8();
        std::string expansion = in.str32();
        if (name.empty()) continue;
        std::optional<std::string> d, e;
        if (!description.empty()) d = std::move(description);
        if (!expansion.empty()) e = normaliseLineBreaks(expansion);
        loaded.entries[lowered(name)] = MacroEntry{std::move(d), std::move(e)};
    }
    loaded.hotkey = textToShortCut(in.str32());
    loaded.enabled = std::int32_t(in.u32() & 127);
    return loaded;
}

void TCodeTemplates::takeEntries(Loaded&& loaded) {
    entries_ = std::move(loaded.entries);
    rebuildTrie();
    hotkey = loaded.hotkey;
    enabled = loaded.enabled;
}

void TCodeTemplates::saveToStream(BinaryWriter& out) const {
    saveEntries(out);
}
void TCodeTemplates::loadFromStream(BinaryReader& in) {
    takeEntries(readEntries(in));
}

std::string TCodeTemplates::saveToString() const {
    std::string bytes;
    BinaryWriter out(bytes);
    saveToStream(out);
    return bytes;
}

void TCodeTemplates::loadFromString(std::string_view bytes) {
    BinaryReader in(bytes);
    loadFromStream(in);
}

} // namespace morvane::editor
