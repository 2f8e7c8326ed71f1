#pragma once
// The compiled form of a search pattern: nodes linked by index, each naming the node to go on
// with. Built by REParser.cpp, run by REMatcher.cpp.

#include "core/highlight/REParser.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

namespace morvane::highlight {

using TRESet = std::array<std::uint8_t, 256>; // membership byte per character

enum class TREOp : std::uint8_t {
    End,     // success; the end position is the match end
    Bol,     // a CR, stepped over; also empty at the start of the text
    Eol,     // before a CR or at the end of the text; consumes nothing
    Set,     // one character of a set (also `.` and single characters)
    Exact,   // a string
    Nothing, // the empty string
    Branch,  // try `body`, then the node `alt` (another Branch or -1)
    Repeat,  // min..max of the one-character set `set`, greedy
    Loop,    // min..max repetitions of the program at `body`, greedy
    LoopEnd, // the end of one repetition of loop `loop`
    Open,    // a group starts: records a position
    Close,   // a group ends: its pieces become one
};

constexpr std::uint32_t kREUnbounded = 0xFFFFFFFFu;

struct TRENode {
    TRENode() = default;
    TRENode(TREOp o, int n) : op(o), next(n) {}
    TREOp op = TREOp::Nothing;
    int next = -1;
    int body = -1; // Branch, Loop
    int alt = -1;  // Branch
    int set = -1;  // Set, Repeat: index into sets
    int str = -1;  // Exact: index into strings
    int loop = -1; // LoopEnd: its Loop node
    int slot = -1; // Loop: its counter slot
    std::uint32_t min = 0, max = 0;
    // Repeat: what the continuation can start with, to skip counts that cannot go on.
    int follow = -1; // index into follows, -1 when anything may follow
};

// What a match can start with: bytes, and whether it may also begin empty (anywhere, at the
// start of the text, or at its end).
struct TREFirst {
    std::bitset<256> bytes;
    bool anywhere = false;
    bool atStart = false;
    bool atEnd = false;
};

struct TREProgram {
    std::vector<TRENode> nodes;
    std::vector<TRESet> sets;
    std::vector<std::string> strings;
    std::vector<TREFirst> follows;
    std::vector<TRESet> followTables; // follows as membership bytes, for the matcher
    int start = -1;
    int loopSlots = 0;

    // Search acceleration.
    TREFirst first;
    TRESet firstTable{};
    int firstByte = -1;
    std::bitset<256> required; // characters every match contains
    int requiredByte = -1;  // one of them that is not a first character, or -1     // the only byte
                            // a match can start with, or -1
    std::string prefix;     // a literal every match starts with (empty: none)
    int leadingRepeat = -1; // an unbounded Repeat that begins every match, or -1
};

} // namespace morvane::highlight
