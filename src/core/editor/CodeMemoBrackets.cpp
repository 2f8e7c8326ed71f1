// The bracket beside the caret and its partner: ( [ { and, in markup, the tags of an element.
// Every search is bounded in bytes read, so an unbalanced bracket near the start of a large
// file costs the same as one in a small file.

#include "core/editor/CustomCodeMemo.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace morvane::editor {

namespace {

constexpr int kNoToken = -1;
constexpr std::size_t kMaxTagName = 64;
// How far a tag's closing ">" is looked for, and how far back from a ">" its "<".
constexpr TextOffset kTagSpan = 4096;

char PartnerOf(char c) {
    switch (c) {
    case '(':
        return ')';
    case '[':
        return ']';
    case '{':
        return '}';
    case ')':
        return '(';
    case ']':
        return '[';
    case '}':
        return '{';
    default:
        return 0;
    }
}

bool NameStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

bool NameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':' ||
           c == '.';
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// HTML elements that never have a closing tag.
bool IsVoidElement(const std::string& lowerName) {
    static constexpr std::array<std::string_view, 16> kVoid{
        "area", "base", "br",    "col",    "embed", "hr",  "img",    "input",
        "link", "meta", "param", "source", "track", "wbr", "keygen", "command"};
    return std::find(kVoid.begin(), kVoid.end(), lowerName) != kVoid.end();
}

// Walks the text byte by byte, forwards or backwards, with each byte's token value.
class ByteWalk {
public:
    ByteWalk(const TTextStore& store, TextOffset at) : store_(store) {
        if (store.Empty()) return;
        auto where = store.Locate(std::clamp<TextOffset>(at, 0, store.Length() - 1));
        cursor_ = store.CursorAt(where.rec);
        Load();
        index_ = static_cast<std::size_t>(
            std::clamp<TextOffset>(at - cursor_.start, 0, TextOffset(text_.size())));
    }
    // The record in view, and where the walk stands in it.
    std::string_view Text() const { return text_; }
    const std::uint8_t* Attrs() const { return attrs_; }
    std::size_t Index() const { return index_; }
    TextOffset RecordStart() const { return cursor_.start; }
    void SetIndex(std::size_t i) { index_ = i; }
    bool NextRecord() {
        if (!store_.Next(cursor_)) return false;
        Load();
        index_ = 0;
        return true;
    }
    bool PrevRecord() {
        if (cursor_.rec == 0 || !store_.Prev(cursor_)) return false;
        Load();
        index_ = text_.size();
        return true;
    }

private:
    void Load() {
        text_ = store_.Text(cursor_);
        attrs_ = store_.Attrs(cursor_);
    }
    const TTextStore& store_;
    TTextStore::Cursor cursor_;
    std::string_view text_;
    const std::uint8_t* attrs_ = nullptr;
    std::size_t index_ = 0;
};

// Whether a byte takes part: any where either side has no token values.
bool SameToken(const std::uint8_t* attrs, std::size_t i, int token) {
    return token == kNoToken || !attrs || attrs[i] == token;
}

} // namespace

namespace {

struct TagAt {
    bool valid = false;
    bool closing = false;
    bool selfClosing = false;
    std::string name; // lower case for HTML
    TextOffset length = 0;
};

} // namespace

namespace {

int TokenAtOffset(const TTextStore& store, TextOffset off) {
    if (off < 0 || off >= store.Length()) return kNoToken;
    auto where = store.Locate(off);
    const std::uint8_t* attrs = store.Attrs(where.rec);
    if (!attrs) return kNoToken;
    return attrs[off - where.start];
}

// The tag whose "<" stands at off: "<name" or "</name", with its closing ">" looked for.
TagAt ReadTag(const TTextStore& store, TextOffset off, bool html) {
    TagAt tag;
    TextOffset end = std::min(store.Length(), off + kTagSpan);
    auto where = store.Locate(off);
    std::string_view t = store.Text(where.rec);
    auto i = static_cast<std::size_t>(off - where.start);
    // Names are short: copy a little when the tag runs past its record.
    std::string spill;
    if (t.size() - i < kMaxTagName + 2) {
        TextOffset upto = std::min(end, off + static_cast<TextOffset>(kMaxTagName + 2));
        for (TextOffset o = off; o < upto;) {
            auto p = store.Locate(o);
            if (p.rec >= store.Count()) break;
            std::string_view r = store.Text(p.rec);
            std::size_t from = static_cast<std::size_t>(o - p.start);
            std::size_t take = std::min<std::size_t>(r.size() - from, std::size_t(upto - o));
            spill.append(r.substr(from, take));
            o += static_cast<TextOffset>(take);
            if (take == 0) break;
        }
        t = spill;
        i = 0;
    }
    if (i >= t.size() || t[i] != '<') return tag;
    std::size_t j = i + 1;
    if (j < t.size() && t[j] == '/') {
        tag.closing = true;
        ++j;
    }
    if (j >= t.size() || !NameStart(t[j])) return tag;
    std::size_t k = j;
    while (k < t.size() && k - j < kMaxTagName && NameChar(t[k]))
        ++k;
    if (k - j >= kMaxTagName) return tag;
    tag.name.assign(t.substr(j, k - j));
    if (html) tag.name = Lower(std::move(tag.name));
    tag.length = static_cast<TextOffset>(k - i);
    tag.valid = true;
    if (tag.closing) return tag;
    // "/>" ends an element that has no closing tag.
    ByteWalk w(store, off + tag.length);
    TextOffset read = 0;
    char prev = 0;
    for (;;) {
        std::string_view r = w.Text();
        for (std::size_t n = w.Index(); n < r.size(); ++n) {
            char c = r[n];
            if (c == '>') {
                tag.selfClosing = prev == '/';
                return tag;
            }
            if (c == '<' || ++read > kTagSpan) return tag;
            prev = c;
        }
        if (!w.NextRecord()) return tag;
    }
}

// Whether the text at a "<" starts the named tag (opening or closing).
bool TagNamed(std::string_view r, std::size_t n, const std::string& name, bool html, bool closing) {
    std::size_t j = n + 1 + (closing ? 1 : 0);
    if (closing && (n + 1 >= r.size() || r[n + 1] != '/')) return false;
    if (!closing && n + 1 < r.size() && r[n + 1] == '/') return false;
    if (j + name.size() > r.size()) return false;
    for (std::size_t k = 0; k < name.size(); ++k) {
        char c = r[j + k];
        if (html) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (c != name[k]) return false;
    }
    return j + name.size() == r.size() || !NameChar(r[j + name.size()]);
}

// Whether the tag starting at n ends with "/>" within its record.
bool SelfClosedInRecord(std::string_view r, std::size_t n) {
    const std::size_t stop = std::min(r.size(), n + static_cast<std::size_t>(kTagSpan));
    for (std::size_t k = n + 1; k < stop; ++k) {
        if (r[k] == '<') return false;
        if (r[k] == '>') return r[k - 1] == '/';
    }
    return false;
}

std::optional<TCustomCodeMemo::BracketMatch> MatchTag(const TTextStore& store, TextOffset at,
                                                      bool html, TextOffset limit) {
    TagAt tag = ReadTag(store, at, html);
    if (!tag.valid) return std::nullopt;
    TCustomCodeMemo::BracketMatch m;
    m.at = at;
    m.length = tag.length;
    if (tag.selfClosing || (html && !tag.closing && IsVoidElement(tag.name))) return m;
    const int token = TokenAtOffset(store, at);
    const TextOffset nameLen = static_cast<TextOffset>(tag.name.size());
    int depth = 1;
    TextOffset read = 0;
    // A tag cut by a record boundary is not seen; records are cut only in lines of thousands
    // of characters.
    if (!tag.closing) {
        ByteWalk w(store, at + tag.length);
        for (;;) {
            std::string_view r = w.Text();
            const std::uint8_t* attrs = w.Attrs();
            for (std::size_t n = w.Index(); n < r.size(); ++n) {
                if (++read > limit) return m;
                if (r[n] != '<' || !SameToken(attrs, n, token)) continue;
                if (TagNamed(r, n, tag.name, html, true)) {
                    if (--depth == 0) {
                        m.partner = w.RecordStart() + static_cast<TextOffset>(n);
                        m.partnerLength = nameLen + 2;
                        return m;
                    }
                } else if (TagNamed(r, n, tag.name, html, false) && !SelfClosedInRecord(r, n)) {
                    ++depth;
                }
            }
            if (!w.NextRecord()) return m;
        }
    }
    ByteWalk w(store, at);
    for (;;) {
        std::string_view r = w.Text();
        const std::uint8_t* attrs = w.Attrs();
        for (std::size_t n = w.Index(); n-- > 0;) {
            if (++read > limit) return m;
            if (r[n] != '<' || !SameToken(attrs, n, token)) continue;
            if (TagNamed(r, n, tag.name, html, false)) {
                if (SelfClosedInRecord(r, n)) continue;
                if (--depth == 0) {
                    m.partner = w.RecordStart() + static_cast<TextOffset>(n);
                    m.partnerLength = nameLen + 1;
                    return m;
                }
            } else if (TagNamed(r, n, tag.name, html, true)) {
                ++depth;
            }
        }
        if (!w.PrevRecord()) return m;
    }
}

std::optional<TCustomCodeMemo::BracketMatch> MatchPlain(const TTextStore& store, TextOffset at,
                                                        char open, TextOffset limit) {
    const char close = PartnerOf(open);
    const bool forward = open == '(' || open == '[' || open == '{';
    const int token = TokenAtOffset(store, at);
    TCustomCodeMemo::BracketMatch m;
    m.at = at;
    m.length = 1;
    int depth = 1;
    TextOffset read = 0;
    if (forward) {
        if (at + 1 >= store.Length()) return m;
        ByteWalk w(store, at + 1);
        for (;;) {
            std::string_view r = w.Text();
            const std::uint8_t* attrs = w.Attrs();
            const std::size_t stop =
                std::min(r.size(), w.Index() + static_cast<std::size_t>(limit - read));
            for (std::size_t n = w.Index(); n < stop; ++n) {
                const char c = r[n];
                if (c != open && c != close) continue;
                if (!SameToken(attrs, n, token)) continue;
                if (c == open) {
                    ++depth;
                } else if (--depth == 0) {
                    m.partner = w.RecordStart() + static_cast<TextOffset>(n);
                    m.partnerLength = 1;
                    return m;
                }
            }
            read += static_cast<TextOffset>(stop - w.Index());
            if (read >= limit || !w.NextRecord()) return m;
        }
    }
    ByteWalk w(store, at);
    for (;;) {
        std::string_view r = w.Text();
        const std::uint8_t* attrs = w.Attrs();
        const std::size_t from = w.Index();
        const std::size_t stop = from - std::min(from, static_cast<std::size_t>(limit - read));
        for (std::size_t n = from; n-- > stop;) {
            const char c = r[n];
            if (c != open && c != close) continue;
            if (!SameToken(attrs, n, token)) continue;
            if (c == open) {
                ++depth;
            } else if (--depth == 0) {
                m.partner = w.RecordStart() + static_cast<TextOffset>(n);
                m.partnerLength = 1;
                return m;
            }
        }
        read += static_cast<TextOffset>(from - stop);
        if (read >= limit || !w.PrevRecord()) return m;
    }
}

} // namespace

std::optional<TCustomCodeMemo::BracketMatch> TCustomCodeMemo::MatchBracket(TextOffset pos,
                                                                           TextOffset limit) const {
    const TTextStore& store = *store_;
    const TextOffset length = store.Length();
    if (length == 0 || pos < 0 || pos > length) return std::nullopt;
    const bool tags = tagMatch_ != tmNone, html = tagMatch_ == tmHtml;
    limit = std::max<TextOffset>(limit, 1);
    for (TextOffset at : {pos - 1, pos}) {
        if (at < 0 || at >= length) continue;
        const auto where = store.Locate(at);
        const char c = store.Text(where.rec)[static_cast<std::size_t>(at - where.start)];
        if (PartnerOf(c)) return MatchPlain(store, at, c, limit);
        if (!tags) continue;
        if (c == '<') {
            if (auto m = MatchTag(store, at, html, limit)) return m;
        } else if (c == '>') {
            // The "<" of the tag this ">" closes, on the same record and not far back.
            std::string_view t = store.Text(where.rec);
            auto i = static_cast<std::size_t>(at - where.start);
            const std::size_t floor = i - std::min<std::size_t>(i, kTagSpan);
            for (std::size_t n = i; n-- > floor;) {
                if (t[n] == '>') break;
                if (t[n] != '<') continue;
                if (auto m = MatchTag(store, where.start + static_cast<TextOffset>(n), html, limit))
                    return m;
                break;
            }
        }
    }
    return std::nullopt;
}

bool TCustomCodeMemo::JumpToMatchingBracket() {
    auto m = MatchBracket(caret_);
    if (!m || m->partner < 0) {
        Beep();
        return false;
    }
    // Before the bracket stays before its partner, after it after.
    const bool after = m->length == 1 && m->at < caret_;
    const TextOffset to = after ? m->partner + m->partnerLength : m->partner;
    typingRun_.active = false;
    SetSelection(to, to, false);
    ScrollToCaret();
    Invalidate();
    NotifyChange();
    return true;
}

} // namespace morvane::editor
