#include "ReferenceScanner.h"

#include <cctype>

namespace morvane::highlight::reference {

namespace {
bool isDigit(int c) {
    return c >= '0' && c <= '9';
}
bool isAlpha(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isIdent(int c) {
    return isAlpha(c) || isDigit(c) || c == '_';
}
} // namespace

void ReferenceScanner::select() {
    table_ = def_.globalTable.get();
    if (!def_.anyStateTables) return;
    StateSet owned = def_.statesWithTables & cur_;
    int s = owned.first();
    if (s < 0) return;
    if (const TokenTable* t = def_.stateTable(s)) table_ = t;
}

bool ReferenceScanner::inGroup(std::uint32_t group, int c) const {
    return c >= 0 && def_.groups.get(group).contains(std::uint8_t(c));
}

bool ReferenceScanner::scan(int routine) {
    const std::size_t from = pos_;
    auto number = [&] {
        if (!isDigit(ch())) return false;
        while (isDigit(ch()))
            advance();
        if (ch() == '.' && pos_ + 1 < text_.size() && isDigit(std::uint8_t(text_[pos_ + 1]))) {
            advance();
            while (isDigit(ch()))
                advance();
        }
        if (ch() == 'e' || ch() == 'E') {
            advance();
            if (ch() == '+' || ch() == '-') advance();
            while (isDigit(ch()))
                advance();
        }
        return true;
    };
    auto quoted = [&](char q) {
        if (ch() != q) return false;
        advance();
        while (!atEnd() && ch() != 13) {
            if (ch() == '\\') {
                advance();
                advance();
                continue;
            }
            if (ch() == q) {
                advance();
                break;
            }
            advance();
        }
        return true;
    };
    switch (routine) {
    case 9:
        if (start_ != 0 && text_[start_ - 1] != 13) return false;
        while (!atEnd() && ch() != 13)
            advance();
        return true;
    case 10: // bytes 128-255 are letters to identifiers
        if (!isAlpha(ch()) && ch() != '_' && ch() < 128) return false;
        while (isIdent(ch()) || ch() >= 128)
            advance();
        return true;
    case 11:
        return number();
    case 12:
        if (ch() != '\'') return false;
        advance();
        while (!atEnd() && ch() != 13) {
            if (ch() == '\'') {
                advance();
                if (ch() != '\'') return true;
            }
            advance();
        }
        return true;
    case 13:
        return quoted('"');
    case 14:
    case 20:
        return quoted('\'');
    case 15:
        if (ch() == '+' || ch() == '-') advance();
        if (number()) return true;
        pos_ = from;
        return false;
    case 16:
        if (!isDigit(ch())) return false;
        while (isDigit(ch()))
            advance();
        return true;
    case 18:
        // Nothing to take past the end; accepting there would take nothing.
        if (atEnd()) return false;
        advance();
        while (!atEnd() && ch() != '"' && ch() != 13)
            advance();
        advance();
        return true;
    case 19:
        while (!atEnd() && ch() != 13)
            advance();
        return true;
    default:
        return false;
    }
}

// The program's here-document routines (types 1 to 3).
bool ReferenceScanner::custom(int type, std::uint8_t& token) {
    auto body = [&](bool keep) {
        std::string lower;
        while (!atEnd()) {
            lower.push_back(char(std::tolower(ch())));
            advance();
            if (!terminator_.empty() && lower.size() >= terminator_.size() &&
                lower.compare(lower.size() - terminator_.size(), terminator_.size(), terminator_) ==
                    0) {
                if (!keep) pos_ -= terminator_.size();
                return;
            }
        }
    };
    switch (type) {
    case 1:
        while (!atEnd() && ((ch() >= 1 && ch() <= 32) || ch() == 160))
            advance();
        if (atEnd()) return true;
        if (ch() == '"' || ch() == '\'') advance();
        terminator_.clear();
        while (isIdent(ch())) {
            if (terminator_.size() < 255) terminator_.push_back(char(std::tolower(ch())));
            advance();
        }
        while (!atEnd() && ch() != 13)
            advance();
        return true;
    case 2:
        body(false);
        token = 18;
        return true;
    case 3:
        --pos_;
        body(true);
        token = 20;
        return true;
    default:
        return false;
    }
}

bool ReferenceScanner::endMatches(const RuleEnd& end, std::uint8_t& token) {
    if (end.isRoutine) return end.isCustom ? custom(end.routine, token) : scan(end.routine);
    const std::size_t from = pos_;
    for (int i = 0; i < end.count; ++i) {
        if (!inGroup(end.groups[std::size_t(i)], ch())) {
            pos_ = from;
            return false;
        }
        advance();
    }
    if (!end.included) pos_ = from;
    return end.count > 0;
}

bool ReferenceScanner::body(const RuleBody& b, std::uint8_t& token) {
    if (b.isRoutine) return b.isCustom ? custom(b.routine, token) : scan(b.routine);
    if (!inGroup(b.group, ch())) return false;
    advance();
    return true;
}

// A pop with nothing pushed returns to the start states: a script's unbalanced pop must not stop
// highlighting.
void ReferenceScanner::pop() {
    if (stack_.empty()) {
        cur_ = def_.startStates;
        return;
    }
    cur_ = stack_.back();
    stack_.pop_back();
}

ReferenceScanner::ReferenceScanner(const TParserDefinition& def)
    : def_(def), keywords_(wordsOf(def.keywords)),
      extraKeywords_(wordsOf(def.settings.extraKeywords())) {}

ReferenceScanner::Words ReferenceScanner::wordsOf(const editor::TKeywords& table) {
    Words w;
    w.caseSensitive = table.caseSensitive();
    table.forEach([&](const std::string& word, const editor::KeywordEntry& e) {
        w.list.emplace_back(word, e);
    });
    return w;
}

std::optional<ReferenceScanner::KeywordHit>
ReferenceScanner::keyword(const Words& words, const TSM_CharGroupManager& groups) const {
    auto fold = [&](char c) {
        return !words.caseSensitive && c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    };
    std::optional<KeywordHit> best;
    for (const auto& [word, entry] : words.list) {
        if (word.empty() || word.size() > text_.size() - start_) continue;
        if (best && word.size() <= best->length) continue; // the first listed entry wins a tie
        bool same = true;
        for (std::size_t i = 0; same && i < word.size(); ++i)
            same = fold(text_[start_ + i]) == word[i];
        if (!same || !entry.states.meets(cur_)) continue;
        if (entry.followGroup >= 0) {
            // Past the end the stream's current character is 0.
            const std::size_t after = start_ + word.size();
            const std::uint8_t next = after < text_.size() ? std::uint8_t(text_[after]) : 0;
            if (!groups.get(std::uint32_t(entry.followGroup)).contains(next)) continue;
        }
        best = KeywordHit{word.size(), entry.token};
    }
    return best;
}

std::uint8_t ReferenceScanner::next() {
    start_ = pos_;
    const int first = ch();
    std::uint8_t t = 0;
    bool found = false, fromExtra = false;
    if (auto m = keyword(keywords_, def_.groups)) {
        t = m->token;
        pos_ = start_ + m->length;
        found = true;
    } else if (auto m2 = keyword(extraKeywords_, def_.settings.kwGroups())) {
        t = m2->token;
        pos_ = start_ + m2->length;
        found = fromExtra = true;
    } else {
        pos_ = start_ + 1;
    }
    auto fail = [&] {
        pos_ = start_ + 1;
        t = 0;
        found = false;
    };
    if (found && def_.handlers[t]) {
        const HandlerRule& h = *def_.handlers[t];
        const bool e = h.end.has();
        bool check = h.body.optional && e;
        // A body that accepts without consuming would repeat for ever: the token ends there.
        std::size_t reached = pos_;
        for (;;) {
            if (check && endMatches(h.end, t)) break;
            check = e;
            // The repetition stops at the end of the text whatever the body would say, so that a
            // comment keyword ending the text keeps its value.
            if (e && atEnd()) break;
            if (h.body.isRoutine && !h.body.isCustom && h.body.routine >= 10 &&
                h.body.routine <= 20) {
                if (!scan(h.body.routine)) fail();
                break;
            }
            if (!body(h.body, t)) {
                fail();
                break;
            }
            if (!e || atEnd() || pos_ <= reached) break;
            reached = pos_;
        }
    }
    if (!found) {
        pos_ = start_ + 1;
        const auto& slot = (*table_)[std::size_t(first)];
        if (slot && slot->valid.meets(cur_)) {
            const TokenRule& r = *slot;
            if (r.stdStart) {
                pos_ = start_;
                if (scan(r.stdRoutine))
                    t = r.value;
                else
                    pos_ = start_ + 1;
            } else if (!r.hasBody) {
                t = r.value;
            } else {
                bool check = r.body.optional;
                std::uint8_t v = r.value;
                std::size_t reached = pos_;
                for (;;) {
                    if (check && endMatches(r.end, v)) {
                        t = r.value;
                        break;
                    }
                    check = true;
                    if (!body(r.body, v)) {
                        fail();
                        break;
                    }
                    if (r.body.isCustom) {
                        t = v;
                        break;
                    }
                    if (atEnd() || pos_ <= reached) {
                        t = r.value;
                        break;
                    }
                    reached = pos_;
                }
            }
        }
    }
    const auto& rule = def_.stateRules[t];
    if ((rule && !fromExtra && !rule->valid.meets(cur_)) || pos_ == start_) {
        pos_ = start_ + 1;
        return 0;
    }
    if (rule) {
        if (rule->pushPop & ppPopBefore) {
            pop();
        } else if (rule->pushPop & ppPushBefore) {
            stack_.push_back(cur_);
        }
        if (!rule->noChange) {
            cur_ |= rule->add;
            cur_ -= rule->remove;
        }
        if (rule->pushPop & ppPopAfter) {
            pop();
        } else if (rule->pushPop & ppPushAfter) {
            stack_.push_back(cur_);
        }
        select();
    }
    return t;
}

std::vector<std::uint8_t> ReferenceScanner::tokens(std::string_view text) {
    text_ = text;
    pos_ = 0;
    cur_ = def_.startStates;
    stack_.clear();
    select();
    std::vector<std::uint8_t> out(text.size(), 0);
    while (!atEnd()) {
        std::size_t from = pos_;
        std::uint8_t t = next();
        if (pos_ <= from) pos_ = from + 1;
        for (std::size_t i = from; i < pos_ && i < out.size(); ++i)
            out[i] = t;
    }
    return out;
}

std::vector<std::uint8_t> ReferenceScanner::styles(std::string_view text) {
    auto t = tokens(text);
    for (auto& v : t)
        v = def_.settings.tokenStyle[v];
    return t;
}

} // namespace morvane::highlight::reference
