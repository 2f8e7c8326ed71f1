#pragma once
// An editor control without a window that highlights as the program's control does, and helpers
// to compare its token bytes with a scan of the whole text.

#include "EngineTestUtil.h"
#include "core/editor/CustomCodeMemo.h"
#include "core/editor/Streams.h"
#include "core/highlight/HighlightedMemo.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace morvane::highlight::testing {

struct HighlightMemo : THighlightedMemo {
    int applied = 0;
    int scheduled = 0;

    void ApplySettings() override {
        ++applied;
        THighlightedMemo::ApplySettings();
    }
    void SchedulePendingHighlight() override { ++scheduled; }

    void Load(std::string_view text) {
        editor::TFastMemoryStream s(text);
        LoadFromStream(s);
    }
    // Replaces [from, to) and sends the change notification, as an edit from the keyboard does.
    void Edit(editor::TextOffset from, editor::TextOffset to, std::string_view text) {
        SetSelection(from, to, false);
        ReplaceSel(text, false);
    }
    // The stored token byte of every character, 255 where a record has none.
    std::vector<std::uint8_t> Attrs() const {
        std::vector<std::uint8_t> out;
        const editor::TTextStore& s = Store();
        for (auto c = s.CursorAt(0); !s.AtEnd(c); s.Next(c)) {
            const std::uint8_t* a = s.Attrs(c);
            std::size_t n = s.Rec(c).length;
            for (std::size_t i = 0; i < n; ++i)
                out.push_back(a ? a[i] : 255);
        }
        return out;
    }
    std::vector<std::uint8_t> AttrsThrough(editor::RecIndex rec) const {
        auto all = Attrs();
        if (rec + 1 >= LineCount()) return all;
        all.resize(std::size_t(Store().Start(rec + 1)));
        return all;
    }
};

// Fresh compilations of the six built-in highlighters, the Perl one with its custom routine.
inline Highlighters freshBuiltins() {
    Highlighters list = compileBuiltinHighlighters(MORVANE_RESOURCES_DIR, "Software\\T");
    for (auto& p : list)
        p->engine().OnCustomParse = hlPerlCustomParse;
    return list;
}

inline TCodeMemoParser& byLanguage(Highlighters& list, const std::string& language) {
    for (auto& p : list)
        if (p->languageName() == language) return *p;
    throw std::runtime_error("no highlighter " + language);
}

// The token bytes of a scan of the whole text from its first character.
inline std::vector<std::uint8_t> fullScan(const std::string& language, const std::string& text) {
    static std::map<std::string, std::unique_ptr<TCodeMemoEngine>> engines;
    auto& e = engines[language];
    if (!e) e = builtinEngine(language);
    return HighlightText(*e, text);
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace morvane::highlight::testing
