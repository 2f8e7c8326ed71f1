// The stored form of a compiled highlighter: a version, the body's size and the body compressed
// with the block method. The body is the settings record followed by the definition's tables;
// character groups are written out in full and interned again when read.
#include "core/editor/BinaryStream.h"
#include "core/editor/CodeMemoError.h"
#include "core/highlight/CodeMemoParser.h"
#include "core/highlight/Compressor.h"

#include <memory>

namespace morvane::highlight {

using editor::BinaryReader;
using editor::BinaryWriter;
using editor::ECodeMemo;
using editor::EStreamError;

namespace {

// Smallest stored sizes of the repeated records, so that a count can be checked against the
// bytes left before anything is read or allocated.
constexpr std::size_t kGroupBytes = 32 + 4 + 1;
constexpr std::size_t kPartBytes = 1 + kGroupBytes + 1;
constexpr std::size_t kEndBytes = 2;
constexpr std::size_t kRuleBytes = kPartBytes + 32 + kPartBytes + kEndBytes + 1;

[[noreturn]] void damaged() {
    throw EStreamError("Stream read error");
}

std::size_t countOf(BinaryReader& in, std::size_t recordBytes) {
    const std::int32_t n = in.i32();
    if (n < 0 || std::size_t(n) > in.left() / recordBytes) damaged();
    return std::size_t(n);
}

void writeSet(BinaryWriter& out, const StateSet& s) {
    out.bytes(std::string_view(reinterpret_cast<const char*>(s.bits.data()), s.bits.size()));
}

StateSet readSet(BinaryReader& in) {
    StateSet s;
    const std::string b = in.bytes(32);
    std::copy(b.begin(), b.end(), s.bits.begin());
    return s;
}

class BodyWriter {
public:
    BodyWriter(const TParserDefinition& def, BinaryWriter& out) : def_(def), out_(out) {}

    void group(std::uint32_t id) {
        static const TSM_CharGroup none;
        const TSM_CharGroup& g = id < def_.groups.count() ? def_.groups.get(id) : none;
        groupOf(g);
    }
    void groupOf(const TSM_CharGroup& g) {
        out_.bytes(std::string_view(reinterpret_cast<const char*>(g.set.data()), g.set.size()));
        out_.i32(std::int32_t(g.ranges.size()));
        for (auto [lo, hi] : g.ranges) {
            out_.u16(lo);
            out_.u16(hi);
        }
        out_.u8(g.negate);
    }
    void part(std::uint8_t flag, std::uint32_t groupId, bool routine, bool custom,
              std::int32_t number) {
        out_.u8(flag);
        group(groupId);
        out_.u8(routine);
        if (routine) {
            out_.u8(custom);
            out_.i32(number);
        }
    }
    void end(const RuleEnd& e) {
        out_.u8(e.included);
        out_.u8(e.isRoutine);
        if (e.isRoutine) {
            out_.u8(e.isCustom);
            out_.i32(e.routine);
            return;
        }
        const std::uint8_t n = std::min<std::uint8_t>(e.count, 4);
        out_.u8(n);
        for (std::size_t i = 0; i < n; ++i)
            group(e.groups[i]);
    }
    void body(const RuleBody& b) { part(b.optional, b.group, b.isRoutine, b.isCustom, b.routine); }
    void rule(const TokenRule& r) {
        part(0, r.startGroup, r.stdStart, false, r.stdRoutine);
        writeSet(out_, r.valid);
        body(r.body);
        end(r.end);
        out_.u8(r.value);
    }
    void table(const TokenTable& t) {
        std::int32_t used = 0;
        for (const auto& slot : t)
            used += slot ? 1 : 0;
        out_.i32(used);
        for (int c = 0; c < 256; ++c)
            if (const auto& slot = t[std::size_t(c)]) {
                out_.u8(std::uint8_t(c));
                rule(*slot);
                if (&t != def_.globalTable.get()) out_.i32(0); // range list
            }
    }

    void run() {
        def_.settings.writeStream(out_, TSM_Settings::kStreamVersion);
        out_.i32(def_.caseFlag);
        out_.i32(std::int32_t(def_.keywords.wordCount()));
        def_.keywords.forEach([&](const std::string& word, const editor::KeywordEntry& e) {
            if (word.size() > 255) throw ECodeMemo("Keyword too long to be stored: " + word);
            out_.str8(word);
            group(e.followGroup < 0 ? def_.groups.count() : std::uint32_t(e.followGroup));
            writeSet(out_, e.states);
            out_.i32(e.token);
        });
        out_.u8(0);

        std::int32_t n = 0;
        for (const auto& h : def_.handlers)
            n += h ? 1 : 0;
        out_.i32(n);
        for (int t = 0; t < 256; ++t)
            if (const auto& h = def_.handlers[std::size_t(t)]) {
                out_.u8(std::uint8_t(t));
                body(h->body);
                end(h->end);
            }

        if (def_.globalTable)
            table(*def_.globalTable);
        else
            out_.i32(0);

        n = 0;
        for (const auto& c : def_.context)
            n += c != def_.startStates ? 1 : 0;
        out_.i32(n);
        for (int t = 0; t < 256; ++t)
            if (def_.context[std::size_t(t)] != def_.startStates) {
                out_.u8(std::uint8_t(t));
                writeSet(out_, def_.context[std::size_t(t)]);
            }

        n = 0;
        for (const auto& r : def_.stateRules)
            n += r ? 1 : 0;
        out_.i32(n);
        for (int t = 0; t < 256; ++t)
            if (const auto& r = def_.stateRules[std::size_t(t)]) {
                out_.u8(std::uint8_t(t));
                writeSet(out_, r->valid);
                writeSet(out_, r->add);
                writeSet(out_, r->remove);
                out_.u8(r->container);
                out_.u8(r->noChange);
                out_.u8(r->pushPop);
            }

        n = 0;
        for (const auto& [state, t] : def_.stateTables)
            n += (t && state >= 0 && state < 256) ? 1 : 0;
        out_.i32(n);
        for (const auto& [state, t] : def_.stateTables)
            if (t && state >= 0 && state < 256) {
                out_.u8(std::uint8_t(state));
                table(*t);
            }

        writeSet(out_, def_.anchors);
        writeSet(out_, def_.boundStates);
        writeSet(out_, def_.startStates);
        out_.u8(def_.usesCustomParse);
    }

private:
    const TParserDefinition& def_;
    BinaryWriter& out_;
};

class BodyReader {
public:
    BodyReader(TParserDefinition& def, BinaryReader& in) : def_(def), in_(in) {}

    TSM_CharGroup groupOf() {
        TSM_CharGroup g;
        const std::string set = in_.bytes(32);
        std::copy(set.begin(), set.end(), g.set.begin());
        for (std::size_t n = countOf(in_, 4); n > 0; --n) {
            const std::uint16_t lo = in_.u16(), hi = in_.u16();
            if (lo > 255 || hi > 255) damaged();
            g.ranges.emplace_back(std::uint8_t(lo), std::uint8_t(hi));
        }
        g.negate = in_.u8();
        for (int c = 0; c < 256; ++c)
            if (g.bit(std::uint8_t(c))) {
                g.lowest = std::min<std::uint8_t>(g.lowest, std::uint8_t(c));
                g.highest = std::max<std::uint8_t>(g.highest, std::uint8_t(c));
            }
        return g;
    }
    std::uint32_t group() { return def_.groups.add(groupOf()); }
    RuleBody part() {
        RuleBody b;
        b.optional = in_.u8() != 0;
        b.group = group();
        b.isRoutine = in_.u8() != 0;
        if (b.isRoutine) {
            b.isCustom = in_.u8() != 0;
            b.routine = in_.i32();
        }
        return b;
    }
    RuleEnd end() {
        RuleEnd e;
        e.included = in_.u8() != 0;
        e.isRoutine = in_.u8() != 0;
        if (e.isRoutine) {
            e.isCustom = in_.u8() != 0;
            e.routine = in_.i32();
            return e;
        }
        e.count = in_.u8();
        if (e.count > 4) damaged();
        for (std::size_t i = 0; i < e.count; ++i)
            e.groups[i] = group();
        return e;
    }
    TokenRule rule() {
        TokenRule r;
        const RuleBody start = part();
        r.startGroup = start.group;
        r.stdStart = start.isRoutine;
        r.stdRoutine = start.routine;
        r.valid = readSet(in_);
        r.body = part();
        r.end = end();
        r.value = in_.u8();
        // The stored form has no flag for a start character alone: it is the rule with nothing
        // after its start.
        r.hasBody = !r.stdStart &&
                    (r.body.isRoutine || !def_.groups.get(r.body.group).empty() || r.end.has());
        return r;
    }
    void table(TokenTable& t, bool ranges) {
        for (std::size_t n = countOf(in_, 1 + kRuleBytes + (ranges ? 4 : 0)); n > 0; --n) {
            const std::uint8_t c = in_.u8();
            t[c] = rule();
            if (!ranges) continue;
            // Character ranges are never written by the compiler; they are read past.
            for (std::size_t k = countOf(in_, 4 + kRuleBytes); k > 0; --k) {
                in_.u16();
                in_.u16();
                rule();
            }
        }
    }

    void run(std::int32_t version) {
        def_.settings.readStream(in_, version > 50 ? TSM_Settings::kStreamVersion : 50);
        def_.caseFlag = in_.i32();
        def_.keywords.setCaseSensitive(def_.caseFlag != 0);
        for (std::size_t n = countOf(in_, 1 + kGroupBytes + 32 + 4); n > 0; --n) {
            const std::string word = in_.str8();
            const TSM_CharGroup follow = groupOf();
            const StateSet states = readSet(in_);
            const std::int32_t token = in_.i32();
            if (token < 0 || token > 255) damaged();
            const std::int32_t id = follow.empty() ? -1 : std::int32_t(def_.groups.add(follow));
            if (!word.empty()) def_.keywords.add(word, std::uint8_t(token), states, id);
        }
        if (in_.u8() != 0) damaged();

        for (std::size_t n = countOf(in_, 1 + kPartBytes + kEndBytes); n > 0; --n) {
            const std::uint8_t t = in_.u8();
            HandlerRule h;
            h.body = part();
            h.end = end();
            def_.handlers[t] = h;
        }

        table(*def_.globalTable, false);

        std::array<bool, 256> given{};
        for (std::size_t n = countOf(in_, 33); n > 0; --n) {
            const std::uint8_t t = in_.u8();
            def_.context[t] = readSet(in_);
            given[t] = true;
        }

        for (std::size_t n = countOf(in_, 1 + 96 + 3); n > 0; --n) {
            const std::uint8_t t = in_.u8();
            TokenStateRule r;
            r.valid = readSet(in_);
            r.add = readSet(in_);
            r.remove = readSet(in_);
            r.container = in_.u8() != 0;
            r.noChange = in_.u8() != 0;
            r.pushPop = in_.u8();
            def_.stateRules[t] = r;
        }

        for (std::size_t n = countOf(in_, 5); n > 0; --n) {
            const std::uint8_t state = in_.u8();
            auto t = std::make_unique<TokenTable>();
            table(*t, true);
            def_.stateTables[state] = std::move(t);
            def_.statesWithTables.add(state);
        }

        def_.anchors = readSet(in_);
        def_.boundStates = readSet(in_);
        def_.startStates = readSet(in_);
        def_.usesCustomParse = in_.u8() != 0;
        for (int t = 0; t < 256; ++t)
            if (!given[std::size_t(t)]) def_.context[std::size_t(t)] = def_.startStates;
        def_.anyStateTables = !def_.statesWithTables.empty();
        def_.settings.setExtraCaseSensitive(def_.caseFlag != 0);
    }

private:
    TParserDefinition& def_;
    BinaryReader& in_;
};

} // namespace

std::string TCodeMemoParser::SaveStored() const {
    try {
        std::string body;
        BinaryWriter bw(body);
        BodyWriter(def_, bw).run();
        std::string out;
        BinaryWriter w(out);
        w.u16(kStoredVersion);
        w.i32(std::int32_t(body.size()));
        TCompressor c;
        c.Method = cmCompressorQZ;
        c.Compress(body, out);
        return out;
    } catch (const std::exception& e) {
        throw ECodeMemo(name_ + ": " + e.what());
    }
}

void TCodeMemoParser::LoadStored(std::string_view stored) {
    auto scratch = std::make_unique<TParserDefinition>();
    try {
        BinaryReader in(stored);
        const std::uint16_t version = in.u16();
        if (version < 50) {
            def_.reset();
            definitionReplaced();
            if (onVersionRefused)
                onVersionRefused(*this,
                                 name_ +
                                     ": the stored highlighter was saved by a different version "
                                     "of TCodeMemoParser.\n"
                                     "Recompile the script to update the stored highlighter.\n"
                                     "Expected version was " +
                                     std::to_string(kStoredVersion) + " read version was " +
                                     std::to_string(version));
            return;
        }
        const std::int32_t size = in.i32();
        std::string body;
        TCompressor c;
        if (size < 0 || std::size_t(size) > c.MaxExpandedSize)
            throw ECompressorException(compressor_text::kTooLarge);
        c.Decompress(stored.substr(in.pos()), body);
        if (size < 0 || std::size_t(size) != body.size())
            throw ECompressorException(compressor_text::kQZSizeMismatch);
        BinaryReader bin(body);
        BodyReader(*scratch, bin).run(version);
    } catch (const std::exception& e) {
        throw ECodeMemo(name_ + ": " + e.what());
    }
    def_.takeFrom(*scratch);
    definitionReplaced();
}

void TCodeMemoParser::Assign(const TCodeMemoParser* source) {
    if (!source) throw ECodeMemo("Cannot assign a nil to TCodeMemoParser");
    if (source == this) return;
    LoadStored(source->SaveStored());
}

} // namespace morvane::highlight
