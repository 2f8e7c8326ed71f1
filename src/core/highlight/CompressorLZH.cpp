// The LZH method: a 4096-byte sliding dictionary (initially blanks), matches of 3 to 60 bytes,
// and an adaptive Huffman tree over 314 symbols (256 literals, then the match lengths) that is
// rebuilt with halved counts when its root reaches 32768. A match position is coded as an upper
// part of 6 bits with a fixed prefix code followed by the lower 6 bits.
#include "core/highlight/Compressor.h"

#include <array>
#include <vector>

namespace morvane::highlight::detail {

namespace {

constexpr int kRing = 4096;
constexpr int kMask = kRing - 1;
constexpr int kLookAhead = 60;
constexpr int kThreshold = 2;
constexpr int kSymbols = 256 - kThreshold + kLookAhead; // 314
constexpr int kNodes = 2 * kSymbols - 1;                // 627
constexpr int kRoot = kNodes - 1;
constexpr unsigned kMaxFreq = 0x8000;

// The prefix code of a position's upper 6 bits: canonical codes of lengths 3 to 8, stored
// left-aligned in a byte, and the tables that decode the first byte of one.
struct PositionCode {
    std::array<std::uint8_t, 64> len{};
    std::array<std::uint8_t, 64> code{};
    std::array<std::uint8_t, 256> upper{};
    std::array<std::uint8_t, 256> upperLen{};
};

constexpr PositionCode makePositionCode() {
    PositionCode p;
    constexpr int counts[6] = {1, 3, 8, 12, 24, 16}; // lengths 3..8
    unsigned c = 0;
    int j = 0;
    for (int l = 3; l <= 8; ++l) {
        for (int k = 0; k < counts[l - 3]; ++k, ++j, ++c) {
            p.len[std::size_t(j)] = std::uint8_t(l);
            p.code[std::size_t(j)] = std::uint8_t(c << (8 - l));
        }
        c <<= 1;
    }
    for (int i = 0; i < 64; ++i) {
        const int span = 1 << (8 - p.len[std::size_t(i)]);
        for (int b = 0; b < span; ++b) {
            p.upper[std::size_t(p.code[std::size_t(i)] + b)] = std::uint8_t(i);
            p.upperLen[std::size_t(p.code[std::size_t(i)] + b)] = p.len[std::size_t(i)];
        }
    }
    return p;
}

constexpr PositionCode kPos = makePositionCode();

// Leaves are nodes whose son is kNodes + symbol; the children of node n are son[n] and
// son[n] + 1, and a 1 bit chooses the second.
class AdaptiveTree {
public:
    AdaptiveTree() {
        for (int i = 0; i < kSymbols; ++i) {
            freq_[i] = 1;
            son_[i] = i + kNodes;
            parent_[i + kNodes] = i;
        }
        for (int i = 0, j = kSymbols; j <= kRoot; i += 2, ++j) {
            freq_[j] = freq_[i] + freq_[i + 1];
            son_[j] = i;
            parent_[i] = parent_[i + 1] = j;
        }
        freq_[kNodes] = 0xFFFF; // sentinel: stops the search in update
        parent_[kRoot] = 0;
    }

    int leaf(int symbol) const { return parent_[symbol + kNodes]; }
    int parent(int node) const { return parent_[node]; }
    int son(int node) const { return son_[node]; }

    void update(int symbol) {
        if (freq_[kRoot] == kMaxFreq) rebuild();
        int c = parent_[symbol + kNodes];
        do {
            const unsigned k = ++freq_[c];
            int l = c + 1;
            if (k > freq_[l]) {
                while (k > freq_[++l]) {
                }
                --l;
                freq_[c] = freq_[l];
                freq_[l] = k;
                const int i = son_[c];
                parent_[i] = l;
                if (i < kNodes) parent_[i + 1] = l;
                const int j = son_[l];
                son_[l] = i;
                parent_[j] = c;
                if (j < kNodes) parent_[j + 1] = c;
                son_[c] = j;
                c = l;
            }
        } while ((c = parent_[c]) != 0);
    }

private:
    void rebuild() {
        int j = 0;
        for (int i = 0; i < kNodes; ++i)
            if (son_[i] >= kNodes) {
                freq_[j] = (freq_[i] + 1) / 2;
                son_[j] = son_[i];
                ++j;
            }
        for (int i = 0, n = kSymbols; n < kNodes; i += 2, ++n) {
            const unsigned f = freq_[i] + freq_[i + 1];
            int k = n - 1;
            while (f < freq_[k])
                --k;
            ++k;
            for (int m = n; m > k; --m) {
                freq_[m] = freq_[m - 1];
                son_[m] = son_[m - 1];
            }
            freq_[k] = f;
            son_[k] = i;
        }
        for (int i = 0; i < kNodes; ++i) {
            const int k = son_[i];
            if (k >= kNodes)
                parent_[k] = i;
            else
                parent_[k] = parent_[k + 1] = i;
        }
    }

    std::array<unsigned, kNodes + 1> freq_{};
    std::array<int, kNodes + kSymbols> parent_{};
    std::array<int, kNodes> son_{};
};

class BitWriter {
public:
    explicit BitWriter(std::string& out) : out_(out) {}
    void put(unsigned bits, int count) { // count <= 16, bits right-aligned
        acc_ = (acc_ << count) | (bits & ((1u << count) - 1));
        n_ += count;
        while (n_ >= 8) {
            n_ -= 8;
            out_.push_back(char(std::uint8_t(acc_ >> n_)));
        }
    }
    void flush() {
        if (n_ > 0) out_.push_back(char(std::uint8_t(acc_ << (8 - n_))));
        n_ = 0;
    }

private:
    std::string& out_;
    std::uint32_t acc_ = 0;
    int n_ = 0;
};

class BitReader {
public:
    explicit BitReader(std::string_view in) : in_(in) {}
    unsigned bit() {
        if (pos_ >= in_.size() * 8) throw ElzhException(compressor_text::kLZHReadError);
        const unsigned b = (std::uint8_t(in_[pos_ >> 3]) >> (7 - (pos_ & 7))) & 1u;
        ++pos_;
        return b;
    }
    unsigned bits(int count) {
        unsigned v = 0;
        while (count-- > 0)
            v = (v << 1) | bit();
        return v;
    }

private:
    std::string_view in_;
    std::size_t pos_ = 0;
};

void putSymbol(AdaptiveTree& tree, BitWriter& w, int symbol) {
    // The path is read from the leaf up and sent from the root down.
    std::array<std::uint8_t, kNodes> path;
    int len = 0;
    for (int k = tree.leaf(symbol); k != kRoot; k = tree.parent(k))
        path[std::size_t(len++)] = std::uint8_t(k & 1);
    while (len > 0)
        w.put(path[std::size_t(--len)], 1);
    tree.update(symbol);
}

int getSymbol(AdaptiveTree& tree, BitReader& r) {
    int c = tree.son(kRoot);
    while (c < kNodes)
        c = tree.son(c + int(r.bit()));
    c -= kNodes;
    tree.update(c);
    return c;
}

} // namespace

void lzhEncode(std::string_view in, std::string& out) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(in.data());
    const std::size_t n = in.size();
    AdaptiveTree tree;
    BitWriter w(out);
    // Hash chains over the input itself: a position may be matched up to kRing bytes back,
    // which is what the decoder's ring still holds.
    constexpr int kChainDepth = 96;
    std::vector<std::int64_t> head(4096, -1);
    std::vector<std::int64_t> prev(kRing, -1);
    auto hashAt = [&](std::size_t p) {
        return ((std::uint32_t(s[p]) << 8 ^ std::uint32_t(s[p + 1]) << 4 ^ s[p + 2]) *
                2654435761u) >>
               20;
    };
    auto insert = [&](std::size_t p) {
        if (p + 2 >= n) return;
        const auto h = hashAt(p);
        prev[p & kMask] = head[h];
        head[h] = std::int64_t(p);
    };
    std::size_t p = 0;
    while (p < n) {
        std::size_t best = 0, bestDist = 0;
        const std::size_t maxLen = std::min<std::size_t>(kLookAhead, n - p);
        if (maxLen > std::size_t(kThreshold)) {
            std::int64_t q = head[hashAt(p)];
            for (int depth = 0; q >= 0 && depth < kChainDepth; ++depth) {
                const std::size_t dist = p - std::size_t(q);
                if (dist > std::size_t(kRing)) break;
                std::size_t l = 0;
                while (l < maxLen && s[std::size_t(q) + l] == s[p + l])
                    ++l;
                if (l > best) {
                    best = l;
                    bestDist = dist;
                    if (l == maxLen) break;
                }
                const std::int64_t next = prev[std::size_t(q) & kMask];
                if (next >= q) break; // the slot was reused by a later position
                q = next;
            }
        }
        if (best <= std::size_t(kThreshold)) {
            putSymbol(tree, w, s[p]);
            insert(p);
            ++p;
            continue;
        }
        putSymbol(tree, w, int(255 - kThreshold + best));
        const unsigned code = unsigned(bestDist - 1);
        const unsigned upper = code >> 6;
        w.put(kPos.code[upper] >> (8 - kPos.len[upper]), kPos.len[upper]);
        w.put(code & 63u, 6);
        for (std::size_t k = 0; k < best; ++k)
            insert(p + k);
        p += best;
    }
    w.flush();
}

void lzhDecode(std::string_view in, std::size_t size, std::string& out) {
    AdaptiveTree tree;
    BitReader r(in);
    std::array<std::uint8_t, kRing> ring;
    ring.fill(' ');
    unsigned pos = kRing - kLookAhead;
    std::size_t done = 0;
    while (done < size) {
        const int c = getSymbol(tree, r);
        if (c < 256) {
            out.push_back(char(c));
            ring[pos++ & kMask] = std::uint8_t(c);
            ++done;
            continue;
        }
        const unsigned first = r.bits(8);
        unsigned code = unsigned(kPos.upper[first]) << 6;
        const unsigned low =
            (first << (kPos.upperLen[first] - 2)) | r.bits(kPos.upperLen[first] - 2);
        code |= low & 63u;
        const unsigned from = pos - code - 1;
        const std::size_t len = std::size_t(c - 255 + kThreshold);
        if (len > size - done) throw ECompressorException(compressor_text::kLZHSizeMismatch);
        for (std::size_t k = 0; k < len; ++k) {
            const std::uint8_t b = ring[(from + k) & kMask];
            out.push_back(char(b));
            ring[pos++ & kMask] = b;
        }
        done += len;
    }
}

} // namespace morvane::highlight::detail
