#pragma once
// Helpers shared by the editor tests: a plain reference model of the stored text and a check of
// the record chain's invariants.

#include "core/editor/CodeMemoStrings.h"
#include "core/editor/CustomCodeMemo.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace morvane::editor::test {

inline void Load(TCustomCodeMemo& m, std::string_view text) {
    TFastMemoryStream s(text);
    m.LoadFromStream(s);
}

inline std::string Stored(const TCustomCodeMemo& m) {
    return m.Text(tfStored);
}

inline std::vector<std::string> Records(const TCustomCodeMemo& m) {
    std::vector<std::string> r;
    for (RecIndex i = 0; i < m.LineCount(); ++i)
        r.emplace_back(m.Store().Text(i));
    return r;
}

// The chain holds no LF, only its last record or a record continued by the next lacks a CR,
// records are non-empty and at most 2048 long, and the offsets add up.
inline void CheckChain(const TCustomCodeMemo& m) {
    const TTextStore& s = m.Store();
    TextOffset total = 0;
    RecIndex breaks = 0;
    for (RecIndex i = 0; i < s.Count(); ++i) {
        std::string_view t = s.Text(i);
        ASSERT_GT(t.size(), 0u) << "record " << i;
        ASSERT_LE(t.size(), 2048u) << "record " << i;
        ASSERT_EQ(s.Start(i), total) << "record " << i;
        ASSERT_EQ(t.find('\n'), std::string_view::npos);
        bool cr = t.back() == '\r';
        ASSERT_EQ(t.find('\r'), cr ? t.size() - 1 : std::string_view::npos) << "record " << i;
        if (i + 1 < s.Count()) {
            ASSERT_EQ(!cr, (s.Rec(i + 1).mark & kContinuation) != 0) << "record " << i + 1;
        }
        total += static_cast<TextOffset>(t.size());
        breaks += cr;
    }
    ASSERT_EQ(total, s.Length());
    ASSERT_EQ(breaks, s.LineBreaks());
}

// Lines of a stored text, each with its CR; no entry for the empty line after a final break.
inline std::vector<std::string> ModelLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t j = text.find('\r', i);
        std::size_t end = j == std::string::npos ? text.size() : j + 1;
        lines.push_back(text.substr(i, end - i));
        i = end;
    }
    return lines;
}

inline std::string Strip(std::string s) {
    if (!s.empty() && s.back() == '\r') s.pop_back();
    return s;
}

// The stored form of a text, stated byte by byte.
inline std::string RefNormalise(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i], next = i + 1 < raw.size() ? raw[i + 1] : 0;
        if (c == '\r' || c == '\n') {
            if ((c == '\r' && next == '\n') || (c == '\n' && next == '\r')) ++i;
            out += '\r';
        } else {
            out += c;
        }
    }
    return out;
}

inline std::string CrLf(const std::string& stored) {
    std::string out;
    for (char c : stored) {
        out += c;
        if (c == '\r') out += '\n';
    }
    return out;
}

// Random line text without breaks, of bytes that are neither CR nor LF.
inline std::string RandomLine(std::mt19937& rng, int maxLen) {
    std::uniform_int_distribution<int> len(0, maxLen), byte(0, 255);
    std::string s(static_cast<std::size_t>(len(rng)), ' ');
    for (auto& c : s) {
        do
            c = static_cast<char>(byte(rng));
        while (c == '\r' || c == '\n');
    }
    return s;
}

} // namespace morvane::editor::test
