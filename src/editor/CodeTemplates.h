#pragma once
// TCodeTemplates: template names expanded by a hotkey, with the stream form kept in
// "Templates.txt" and inside the highlighter settings.

#include "editor/BinaryStream.h"
#include "editor/MacroKeywords.h"

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
    // Replaces the entries; a stream cut short raises EStreamError.
    virtual void loadFromStream(BinaryReader& in);
    std::string saveToString() const;
    void loadFromString(std::string_view bytes);

protected:
    void saveEntries(BinaryWriter& out) const;
    void loadEntries(BinaryReader& in);
};

} // namespace morvane::editor
