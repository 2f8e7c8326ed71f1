#include "core/editor/CodeMemoStrings.h"

#include "core/editor/CustomCodeMemo.h"
#include "core/editor/LineBreaks.h"

#include <algorithm>
#include <cstring>

namespace morvane::editor {

std::string TStrings::GetText() const {
    std::string out;
    for (std::int64_t i = 0; i < Count(); ++i)
        out.append(Get(i)).append("\r\n");
    return out;
}

void TStrings::SetText(std::string_view text) {
    BeginUpdate();
    Clear();
    std::string stored = NormaliseLineBreaks(text);
    std::size_t i = 0;
    while (i < stored.size()) {
        std::size_t j = stored.find(kCR, i);
        if (j == std::string::npos) j = stored.size();
        Add(std::string_view(stored).substr(i, j - i));
        i = j + 1;
    }
    EndUpdate();
}

void TStrings::SaveToStream(TStream& stream) const {
    for (std::int64_t i = 0; i < Count(); ++i) {
        stream.WriteString(Get(i));
        stream.WriteString("\r\n");
    }
}

void TStrings::Assign(const TStrings& source) {
    BeginUpdate();
    Clear();
    for (std::int64_t i = 0; i < source.Count(); ++i)
        Add(source.Get(i));
    EndUpdate();
}

void TStringList::Insert(std::int64_t i, std::string_view s) {
    items_.insert(items_.begin() + std::clamp<std::int64_t>(i, 0, Count()), std::string(s));
}

void TStringList::Delete(std::int64_t i) {
    if (i >= 0 && i < Count()) items_.erase(items_.begin() + i);
}

void TCodeMemoStrings::CheckIndex(std::int64_t i, std::int64_t limit) const {
    if (i < 0 || i > limit)
        throw EStringListError("List index out of bounds (" + std::to_string(i) + ")");
}

std::int64_t TCodeMemoStrings::Count() const {
    RecIndex n = memo_.LineCount();
    return n == 1 && memo_.TextLength() == 0 ? 0 : n;
}

std::string TCodeMemoStrings::Get(std::int64_t i) const {
    CheckIndex(i, Count() - 1);
    std::string_view t = memo_.Store().Text(i);
    if (!t.empty() && t.back() == kCR) t.remove_suffix(1);
    return std::string(t);
}

void TCodeMemoStrings::Put(std::int64_t i, std::string_view s) {
    CheckIndex(i, Count() - 1);
    TextOffset start = memo_.LineStart(i);
    std::string_view t = memo_.Store().Text(i);
    TextOffset len = static_cast<TextOffset>(t.size()) - (!t.empty() && t.back() == kCR ? 1 : 0);
    memo_.SetSelection(start, start + len, false);
    memo_.ReplaceSel(s);
}

void TCodeMemoStrings::Insert(std::int64_t i, std::string_view s) {
    CheckIndex(i, Count());
    std::string text;
    TextOffset at;
    if (i < Count()) {
        at = memo_.LineStart(i);
        text.append(s).push_back(kCR);
    } else {
        at = memo_.TextLength();
        const TTextStore& st = memo_.Store();
        if (!st.Empty() && !st.EndsWithCR(st.Count() - 1))
            text.append(1, kCR).append(s);
        else
            text.append(s).push_back(kCR);
    }
    memo_.SetSelection(at, at, false);
    memo_.ReplaceSel(text);
}

void TCodeMemoStrings::Delete(std::int64_t i) {
    CheckIndex(i, Count() - 1);
    memo_.SetSelection(memo_.LineStart(i), memo_.LineStart(i + 1), false);
    memo_.ReplaceSel({});
}

void TCodeMemoStrings::Clear() {
    bool lock = memo_.UpdateLocked();
    memo_.SetUpdateLock(true);
    memo_.SetSelection(-1, 0, false);
    memo_.ReplaceSel({}, false);
    memo_.SetUpdateLock(lock);
    memo_.UndoStack().Clear();
}

std::string TCodeMemoStrings::GetText() const {
    return memo_.Text(tfCRLF);
}

void TCodeMemoStrings::SetText(std::string_view text) {
    // Equal CR LF forms are equal stored forms; compare those without copying the text.
    std::string stored = NormaliseLineBreaks(text);
    const TTextStore& st = memo_.Store();
    if (static_cast<TextOffset>(stored.size()) == st.Length()) {
        bool same = true;
        std::size_t pos = 0;
        TTextStore::Cursor c = st.CursorAt(0);
        for (; same && !st.AtEnd(c); st.Next(c)) {
            std::string_view t = st.Text(c);
            same = std::memcmp(stored.data() + pos, t.data(), t.size()) == 0;
            pos += t.size();
        }
        if (same) return;
    }
    // Loading text handed over as a whole keeps the line ends the document already has.
    TSaveFormat format = memo_.SaveFormat();
    TLineEnd lineEnd = memo_.lineEnd_;
    TFastMemoryStream stream(stored);
    memo_.LoadFromStream(stream);
    memo_.SetSaveFormat(format);
    memo_.lineEnd_ = lineEnd;
    memo_.changeBits_ |= TCustomCodeMemo::cbText;
    memo_.NotifyChange();
}

void TCodeMemoStrings::BeginUpdate() {
    memo_.BeginUpdate();
}
void TCodeMemoStrings::EndUpdate() {
    memo_.EndUpdate();
}
void TCodeMemoStrings::SaveToStream(TStream& stream) const {
    memo_.SaveToStream(&stream);
}
void TCodeMemoStrings::LoadFromStream(TStream& stream) {
    memo_.LoadFromStream(stream);
}
void TCodeMemoStrings::LoadFromFile(const std::string& fileName) {
    memo_.LoadFromFile(fileName);
}
void TCodeMemoStrings::SaveToFile(const std::string& fileName) {
    memo_.SaveToFile(fileName);
}

void TCodeMemoStrings::Assign(const TStrings& source) {
    TMemoryStream stream;
    source.TStrings::SaveToStream(stream);
    stream.SetPosition(0);
    TSaveFormat format = memo_.SaveFormat();
    memo_.LoadFromStream(stream);
    memo_.SetSaveFormat(format);
}

} // namespace morvane::editor
