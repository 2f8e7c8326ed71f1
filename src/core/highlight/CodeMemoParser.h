#pragma once
// TCodeMemoParser: a highlighter. Compiles a script into its definition and keeps the user's
// display settings and key map in the settings store.

#include "core/highlight/CodeMemoEngine.h"
#include "core/highlight/EngineStateTable.h"
#include "core/highlight/ParserDefinition.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::platform {
class Registry;
}

namespace morvane::highlight {

class TParserSlots;

class TCodeMemoParser {
public:
    static constexpr std::uintmax_t kMaxScriptSize = 16u << 20;

    explicit TCodeMemoParser(std::string name = "CodeMemoParser") : name_(std::move(name)) {}
    // Every editor slot still holding the highlighter is emptied.
    ~TCodeMemoParser();
    TCodeMemoParser(const TCodeMemoParser&) = delete;
    TCodeMemoParser& operator=(const TCodeMemoParser&) = delete;

    const std::string& name() const { return name_; }
    const std::string& languageName() const { return def_.settings.languageName; }

    // The script's file name; names in <...> of #include are looked up in its folder.
    const std::string& script() const { return script_; }
    void setScript(std::string path) { script_ = std::move(path); }

    // Resets the definition and compiles the text. Raises ESYM_COMP_ERROR, or ECodeMemo and
    // EKeywords for the errors reported without a position; the definition is then left as far
    // as it was built. lastLine/lastColumn keep the lexer's final position either way.
    void compile(std::string_view text);
    // Sets Script to the file and compiles it; a missing or oversized file raises ECodeMemo.
    void compileFile(const std::filesystem::path& file);
    int lastLine() const { return lastLine_; }
    int lastColumn() const { return lastColumn_; }

    // The highlighting engine over the definition, shared by every editor using the highlighter;
    // compiling tells it of the new definition.
    TCodeMemoEngine& engine() { return engine_; }
    // The engine states editors keep at their records' starts, numbered; emptied by compiling.
    TEngineStateTable& engineStates() { return states_; }

    TParserDefinition& definition() { return def_; }
    const TParserDefinition& definition() const { return def_; }
    TSM_Settings& settings() { return def_.settings; }
    const TSM_Settings& settings() const { return def_.settings; }

    // The stored form (the "Parser" property): version 51, the body's size, the body compressed
    // with the block method. Raises ECodeMemo "%s: %s" (name, then the failure's message).
    static constexpr std::uint16_t kStoredVersion = 51;
    std::string SaveStored() const;
    // Reads a stored form of version 50 or later into a scratch definition and takes it only
    // when all of it read: a damaged form raises ECodeMemo "%s: %s" and leaves the highlighter
    // as it was. An older version resets the highlighter and tells onVersionRefused why.
    void LoadStored(std::string_view stored);
    std::function<void(TCodeMemoParser& sender, const std::string& message)> onVersionRefused;
    // Copies source's definition and settings through the stored body; a null source raises
    // ECodeMemo "Cannot assign a nil to TCodeMemoParser".
    void Assign(const TCodeMemoParser* source);

    // Settings store persistence under registryKey (relative to the current user's hive).
    bool useRegistry = true;
    std::string registryKey;
    void saveToRegistry(platform::Registry& registry) const;
    // Applies the stored style string and key map when present.
    void loadFromRegistry(platform::Registry& registry);
    std::string styleValueName() const { return "Highlighting - " + languageName(); }
    std::string keysValueName() const { return "Key Assignments - " + languageName(); }

    // Raised after stored settings were applied, so that editors using the highlighter
    // re-apply it.
    std::function<void(TCodeMemoParser& sender)> onSettingsChanged;

    // Called by the modify-properties operation instead of the properties dialog when set;
    // returns whether the settings were changed.
    std::function<bool(TCodeMemoParser& sender, int pageMask)> onModifyProperties;

    // The editors that hold the highlighter in one of their slots.
    const std::vector<TParserSlots*>& Editors() const { return editors_; }
    // Editors using the highlighter apply its definition and settings again.
    void ReapplyToEditors();

private:
    friend class TParserSlots;
    void Attach(TParserSlots* editor);
    void Detach(TParserSlots* editor);
    void definitionReplaced();
    std::vector<TParserSlots*> editors_;
    std::string name_;
    std::string script_;
    TParserDefinition def_;
    TCodeMemoEngine engine_{def_};
    TEngineStateTable states_;
    int lastLine_ = 0;
    int lastColumn_ = 0;
};

} // namespace morvane::highlight
