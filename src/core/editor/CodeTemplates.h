#pragma once
// TCodeTemplates: template names expanded by a hotkey, with the stream form kept in
// "Templates.txt" and inside the highlighter settings.

#include "core/editor/BinaryStream.h"
#include "core/editor/MacroKeywords.h"

namespace morvane::editor {

class TCodeTemplates : public TMacroKeywords {
public:
    virtual ~TCodeTemplates() = default;
    virtual const char* className() const { return "TCodeTemplates"; }

    void addTemplate(std::string_view name, std::string_view description,
                     std::string_view expansion);
    void deleteTemplate(std::string_view name) { deleteEntry(name); }
    std::optional<std::string> findExpansion(std::string_view name) const;

    // Copies through the stream form; a source of another class raises ECodeMemo.
    void assign(const TCodeTemplates& source);

    virtual void saveToStream(BinaryWriter& out) const;
    // Replaces the entries, the hotkey and the flag. The whole form is read before anything
    // changes: a stream cut short or damaged raises EStreamError (ECodeMemo for a bad end-key
    // text) and leaves the store as it was.
    virtual void loadFromStream(BinaryReader& in);
    std::string saveToString() const;
    void loadFromString(std::string_view bytes);

protected:
    // What a stream form holds before it is taken over.
    struct Loaded {
        std::map<std::string, MacroEntry> entries;
        std::uint16_t hotkey = 0;
        std::int32_t enabled = 1;
    };
    void saveEntries(BinaryWriter& out) const;
    static Loaded readEntries(BinaryReader& in);
    void takeEntries(Loaded&& loaded);
};

} // namespace morvane::editor
