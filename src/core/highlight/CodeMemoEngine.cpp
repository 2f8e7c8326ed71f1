#include "core/highlight/CodeMemoEngine.h"

#include "core/highlight/ScanRoutines.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace morvane::highlight {

// One token being read.
struct TCodeMemoEngine::Scan {
    TScanStream& s;
    std::size_t start;
    void fail(std::uint8_t& token) {
        s.setPosition(start + 1);
        token = 0;
    }
};

namespace {

// Adds the characters a rule's loop went through, whichever way it returns.
struct ScanTally {
    std::uint64_t& total;
    const std::size_t& at;
    std::size_t from;
    ~ScanTally() { total += at - from + 1; }
};

// State sets in four machine words: the engine tests and changes them on every token.
std::uint64_t word(const StateSet& s, int i) {
    std::uint64_t w;
    std::memcpy(&w, s.bits.data() + 8 * i, 8);
    return w;
}

// Most highlighters number their states from 0: the first word usually decides.
[[gnu::always_inline]] inline bool meets(const StateSet& a, const StateSet& b) {
    if (word(a, 0) & word(b, 0)) return true;
    return ((word(a, 1) & word(b, 1)) | (word(a, 2) & word(b, 2)) | (word(a, 3) & word(b, 3))) != 0;
}

// (s | add) - remove
[[gnu::always_inline]] inline void change(StateSet& s, const StateSet& add,
                                          const StateSet& remove) {
    const std::uint64_t w[4] = {(word(s, 0) | word(add, 0)) & ~word(remove, 0),
                                (word(s, 1) | word(add, 1)) & ~word(remove, 1),
                                (word(s, 2) | word(add, 2)) & ~word(remove, 2),
                                (word(s, 3) | word(add, 3)) & ~word(remove, 3)};
    std::memcpy(s.bits.data(), w, 32);
}

// The end of the text reads as character 0 when a follow group is tested, so that a keyword
// that must not run on into a word is still found as the last word of the text.
bool groupHas(const TSM_CharGroupManager& groups, std::int32_t group, int c) {
    return groups.get(std::uint32_t(group)).contains(std::uint8_t(c < 0 ? 0 : c));
}

} // namespace

TCodeMemoEngine::TCodeMemoEngine(const TParserDefinition& def) : def_(def) {
    DefinitionChanged();
}

void TCodeMemoEngine::DefinitionChanged() {
    refreshFirstChars();
    SetContext(0);
}

void TCodeMemoEngine::refreshFirstChars() {
    collectFirstChars(def_.keywords, mainFirst_);
    collectFirstChars(def_.settings.extraKeywords(), extraFirst_);
    mainWords_ = def_.keywords.wordCount();
    extraWords_ = def_.settings.extraKeywords().wordCount();
}

void TCodeMemoEngine::collectFirstChars(const editor::TKeywords& table, FirstChars& out) {
    out.fill(StateSet{});
    const bool folded = !table.caseSensitive();
    table.forEach([&](const std::string& word, const editor::KeywordEntry& e) {
        if (word.empty()) return;
        auto c = static_cast<unsigned char>(word[0]);
        out[c] |= e.states;
        // A case-insensitive table lower-cases the text: its upper-case letters start words too.
        if (folded && c >= 'a' && c <= 'z') out[c - 32] |= e.states;
    });
}

void TCodeMemoEngine::SetContext(std::uint8_t token) {
    failed_ = failedHandler_ = {};
    // A cheap guard for a caller that recompiled without telling the engine.
    if (def_.keywords.wordCount() != mainWords_ ||
        def_.settings.extraKeywords().wordCount() != extraWords_)
        refreshFirstChars();
    const StateSet& c = def_.context[token];
    state_.current = c.empty() ? def_.startStates : c;
    state_.stack.clear();
    state_.saved = state_.current;
    state_.containerEnd = 0;
    state_.containerToken = 0;
    state_.inContainer = false;
    refreshStateTables();
    selectTable();
}

void TCodeMemoEngine::RestoreState(const TEngineState& s) {
    failed_ = failedHandler_ = {};
    state_ = s;
    refreshStateTables();
    selectTable();
}

static_assert(std::endian::native == std::endian::little, "state words are read little-endian");

// Renewed with every restart: the definition may have been compiled again since the last scan.
void TCodeMemoEngine::refreshStateTables() {
    for (int s = 0; s < 256; ++s) {
        const TokenTable* t = def_.statesWithTables.has(s) ? def_.stateTable(s) : nullptr;
        stateTables_[std::size_t(s)] = t ? t : def_.globalTable.get();
    }
}

// The table of the lowest current state that owns one.
void TCodeMemoEngine::selectTable() {
    table_ = def_.globalTable.get();
    std::uint64_t owners[4], current[4];
    std::memcpy(owners, def_.statesWithTables.bits.data(), 32);
    std::memcpy(current, state_.current.bits.data(), 32);
    for (int i = 0; i < 4; ++i) {
        // Little-endian words: bit n of byte n/8 is bit n of the word array.
        std::uint64_t both = owners[i] & current[i];
        if (!both) continue;
        table_ = stateTables_[std::size_t(i * 64 + std::countr_zero(both))];
        return;
    }
}

// A pop with nothing pushed (a restart between a push and its pop, or a stray closing token)
// falls back to the start states instead of failing the whole scan.
void TCodeMemoEngine::pop() {
    state_.current = state_.stack.empty() ? def_.startStates : state_.stack.pop();
    selectTable();
}

[[gnu::always_inline]] inline bool TCodeMemoEngine::inGroup(std::uint32_t group, int c) const {
    return c >= 0 && def_.groups.get(group).contains(std::uint8_t(c));
}

// Most token characters are tested against groups; the routines stay out of line.
bool TCodeMemoEngine::runRoutine(bool custom, int number, Scan& sc, std::uint8_t& token) {
    if (!custom) return ScanRoutine(number, sc.s, sc.start);
    if (!OnCustomParse || designing) return false;
    std::size_t length = sc.s.position() - std::min(sc.s.position(), sc.start);
    return OnCustomParse(*this, number, token, length, sc.s);
}

[[gnu::always_inline]] inline bool TCodeMemoEngine::endMatches(const RuleEnd& end, Scan& sc,
                                                               std::uint8_t& token) {
    if (end.isRoutine) return runRoutine(end.isCustom, end.routine, sc, token);
    if (end.count == 0) return false;
    std::size_t at = sc.s.position();
    bool matched = true;
    for (std::size_t i = 0; i < end.count && i < end.groups.size(); ++i) {
        if (!inGroup(end.groups[i], sc.s.current())) {
            matched = false;
            break;
        }
        sc.s.advance();
    }
    if (!matched || !end.included) sc.s.setPosition(at);
    return matched;
}

[[gnu::always_inline]] inline bool TCodeMemoEngine::bodyMatches(const RuleBody& body, Scan& sc,
                                                                std::uint8_t& token) {
    if (body.isRoutine) return runRoutine(body.isCustom, body.routine, sc, token);
    if (!inGroup(body.group, sc.s.current())) return false;
    sc.s.advance();
    return true;
}

// continueWithHandler's loop for a handler of groups only, on the text itself.
bool TCodeMemoEngine::groupHandler(const HandlerRule& h, Scan& sc, std::size_t keyword) {
    const std::string_view text = sc.s.text();
    const std::size_t size = text.size();
    const TSM_CharGroupManager& groups = def_.groups;
    const std::size_t endCount = std::min<std::size_t>(h.end.count, h.end.groups.size());
    const bool hasEnd = endCount > 0;
    const TSM_CharGroup* body = nullptr;
    std::size_t p = sc.s.position();
    bool check = h.body.optional && hasEnd;
    const ScanTally tally{scanned_, p, p};
    for (;;) {
        if (check) {
            std::size_t i = 0;
            while (i < endCount && p + i < size &&
                   groups.get(h.end.groups[i]).contains(std::uint8_t(text[p + i])))
                ++i;
            if (i == endCount) {
                sc.s.setPosition(h.end.included ? p + endCount : p);
                return true;
            }
        }
        check = hasEnd;
        if (hasEnd && p >= size) {
            sc.s.setPosition(p);
            return true;
        }
        if (!body) body = &groups.get(h.body.group);
        if (p >= size || !body->contains(std::uint8_t(text[p]))) {
            sc.s.setPosition(p);
            if (hasEnd) failedHandler_ = {&h, text.data(), sc.start, keyword, p, state_.current};
            return false;
        }
        ++p;
        if (!hasEnd) {
            sc.s.setPosition(p);
            return true;
        }
    }
}

// Continues a keyword's token; false when the rule does not complete.
bool TCodeMemoEngine::continueWithHandler(const HandlerRule& h, Scan& sc, std::uint8_t& token) {
    const bool hasEnd = h.end.has();
    bool check = h.body.optional && hasEnd;
    // As for token rules (tokenTableStep): after a keyword of the same length, a handler of
    // groups only that failed at q from an earlier start fails at q again.
    const bool groupsOnly = !h.body.isRoutine && !h.end.isRoutine;
    const std::size_t keyword = sc.s.position() - sc.start;
    const FailedRule& f = failedHandler_;
    if (groupsOnly && f.rule == &h && f.text == sc.s.text().data() && sc.start > f.from &&
        keyword == f.keyword && sc.s.position() <= f.at && f.states == state_.current)
        return false;
    if (groupsOnly) return groupHandler(h, sc, keyword);
    // Every round must end further on than the one before: a body that accepts without
    // consuming, or a custom end that steps back, would otherwise repeat for ever.
    std::size_t reached = sc.s.position();
    for (;;) {
        if (check && endMatches(h.end, sc, token)) return true;
        check = hasEnd;
        if (hasEnd && sc.s.atEnd()) return true;
        if (h.body.isRoutine && !h.body.isCustom && h.body.routine >= 10 && h.body.routine <= 20)
            return ScanRoutine(h.body.routine, sc.s, sc.start);
        if (!bodyMatches(h.body, sc, token)) {
            if (groupsOnly && hasEnd)
                failedHandler_ = {&h,      sc.s.text().data(), sc.start,
                                  keyword, sc.s.position(),    state_.current};
            return false;
        }
        if (!hasEnd || sc.s.position() <= reached) return true;
        reached = sc.s.position();
    }
}

// The loop below for a rule of groups only, on the text itself: it runs for every character of
// strings, comments and markup text.
std::uint8_t TCodeMemoEngine::groupRule(Scan& sc, const TokenRule& r, std::uint8_t token) {
    const std::string_view text = sc.s.text();
    const std::size_t size = text.size();
    const TSM_CharGroupManager& groups = def_.groups;
    const std::size_t endCount = std::min<std::size_t>(r.end.count, r.end.groups.size());
    const TSM_CharGroup* body = nullptr;
    std::size_t p = sc.s.position();
    bool check = r.body.optional;
    const ScanTally tally{scanned_, p, p};
    for (;;) {
        if (check && endCount > 0) {
            std::size_t i = 0;
            while (i < endCount && p + i < size &&
                   groups.get(r.end.groups[i]).contains(std::uint8_t(text[p + i])))
                ++i;
            if (i == endCount) {
                sc.s.setPosition(r.end.included ? p + endCount : p);
                return r.value;
            }
        }
        check = true;
        if (!body) body = &groups.get(r.body.group);
        if (p >= size || !body->contains(std::uint8_t(text[p]))) {
            failed_ = {&r, text.data(), sc.start, 0, p, state_.current};
            sc.fail(token);
            return token;
        }
        if (++p >= size) {
            sc.s.setPosition(p);
            return r.value;
        }
    }
}

// Runs the token rule of the first character (valid in the current states).
std::uint8_t TCodeMemoEngine::tokenTableStep(Scan& sc, const TokenRule& r, std::uint8_t token) {
    if (r.stdStart) {
        // A mail address refused for want of an '@' is refused from any start inside its run.
        const bool mail = r.stdRoutine == srMailUrl;
        const FailedRule& f = failed_;
        if (mail && f.rule == &r && f.text == sc.s.text().data() && sc.start > f.from &&
            sc.start < f.at && f.states == state_.current) {
            sc.fail(token);
            return token;
        }
        sc.s.setPosition(sc.start);
        if (ScanRoutine(r.stdRoutine, sc.s, sc.start)) return r.value;
        if (mail)
            failed_ = {&r,
                       sc.s.text().data(),
                       sc.start,
                       0,
                       MailRunEnd(sc.s.text(), sc.start),
                       state_.current};
        sc.fail(token);
        return token;
    }
    sc.s.setPosition(sc.start + 1);
    if (!r.hasBody) return r.value;
    // A rule of groups only that failed at q from an earlier start fails at q again from any
    // start before q: its ends and bodies were all tested there already. Without this a long run
    // of body characters that ends in neither end nor body is scanned again from every one of
    // its characters.
    const bool groupsOnly = !r.body.isRoutine && !r.end.isRoutine;
    if (groupsOnly && failed_.rule == &r && failed_.text == sc.s.text().data() &&
        sc.start > failed_.from && sc.start < failed_.at && failed_.states == state_.current) {
        sc.fail(token);
        return token;
    }
    if (groupsOnly) return groupRule(sc, r, token);
    bool check = r.body.optional;
    token = r.value;
    std::size_t reached = sc.s.position(); // as in continueWithHandler
    for (;;) {
        std::uint8_t t = token;
        if (check && endMatches(r.end, sc, t)) return r.value;
        check = true;
        if (!bodyMatches(r.body, sc, t)) {
            if (groupsOnly)
                failed_ = {&r, sc.s.text().data(), sc.start, 0, sc.s.position(), state_.current};
            sc.fail(token);
            return token;
        }
        if (r.body.isRoutine && r.body.isCustom) return t;
        if (sc.s.atEnd() || sc.s.position() <= reached) return r.value;
        reached = sc.s.position();
    }
}

template <class Follow>
bool TCodeMemoEngine::matchKeyword(const editor::TKeywords& table, const Follow& follow,
                                   const FirstChars& first, Scan& sc, std::uint8_t& token) {
    editor::TKeywords::Hit m;
    if (meets(first[static_cast<unsigned char>(sc.s.text()[sc.start])], state_.current))
        m = table.matchAt(sc.s.text(), sc.start, state_.current, follow);
    if (!m.entry) {
        sc.s.setPosition(sc.start + 1);
        return false;
    }
    sc.s.setPosition(sc.start + m.length);
    token = m.entry->token;
    return true;
}

std::uint8_t TCodeMemoEngine::GetToken(TScanStream& stream, std::size_t& length) {
    length = 0;
    if (stream.atEnd()) return 0;
    Scan sc{stream, stream.position()};
    std::uint8_t token = 0;

    auto followMain = [this](std::int32_t g, int c) { return groupHas(def_.groups, g, c); };
    bool held = matchKeyword(def_.keywords, followMain, mainFirst_, sc, token);
    bool fromExtra = false;
    const auto& extra = def_.settings.extraKeywords();
    if (!held && !extra.empty())
        held = fromExtra = matchKeyword(
            extra,
            [this](std::int32_t g, int c) { return groupHas(def_.settings.kwGroups(), g, c); },
            extraFirst_, sc, token);

    if (const auto& h = def_.handlers[token]) {
        if (!continueWithHandler(*h, sc, token)) {
            sc.fail(token);
            held = fromExtra = false;
        }
    }
    if (!held) {
        // Without a rule for the first character the token stays as it is. Tested here: most
        // characters have none.
        const auto& slot = (*table_)[std::uint8_t(stream.text()[sc.start])];
        if (slot && meets(slot->valid, state_.current)) token = tokenTableStep(sc, *slot, token);
    }

    const auto& rule = def_.stateRules[token];
    bool rejected = stream.position() <= sc.start ||
                    (rule && !fromExtra && !meets(rule->valid, state_.current));
    if (rejected) {
        stream.setPosition(sc.start + 1);
        token = 0;
    }
    if (rule && !rejected) {
        // The states to return to after the container; not kept up to date outside one.
        if (rule->container && !state_.inContainer) state_.saved = state_.current;
        if (rule->pushPop & ppPopBefore)
            pop();
        else if (rule->pushPop & ppPushBefore)
            state_.stack.push(state_.current);
        if (!rule->noChange) {
            change(state_.current, rule->add, rule->remove);
            selectTable();
        }
        if (rule->pushPop & ppPopAfter)
            pop();
        else if (rule->pushPop & ppPushAfter)
            state_.stack.push(state_.current);
    }

    std::size_t pos = stream.position();
    if (state_.inContainer) {
        if (pos >= state_.containerEnd || stream.atEnd()) {
            state_.current = state_.saved;
            selectTable();
        }
        state_.inContainer = pos < state_.containerEnd;
    } else if (rule && !rejected && rule->container) {
        state_.containerEnd = pos;
        state_.containerToken = token;
        state_.inContainer = true;
    }
    length = pos - sc.start;
    return token;
}

std::uint8_t TCodeMemoEngine::GetToken(std::string_view text, std::size_t& pos,
                                       std::size_t& length) {
    TScanStream s(text, pos);
    std::uint8_t t = GetToken(s, length);
    pos = s.position();
    return t;
}

std::vector<std::uint8_t> HighlightText(TCodeMemoEngine& engine, std::string_view text,
                                        std::uint8_t context) {
    std::vector<std::uint8_t> out(text.size(), 0);
    engine.SetContext(context);
    TScanStream s(text);
    while (!s.atEnd()) {
        std::size_t start = s.position(), length = 0;
        bool wasInside = engine.InContainer();
        std::uint8_t t = engine.GetToken(s, length);
        std::fill(out.begin() + std::ptrdiff_t(start), out.begin() + std::ptrdiff_t(start + length),
                  t);
        if (!wasInside && engine.InContainer()) s.setPosition(start);
    }
    return out;
}

} // namespace morvane::highlight
