// The stream header, the block method and the choice between the methods.
#include "core/highlight/Compressor.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace morvane::highlight {

namespace text = compressor_text;

namespace {

constexpr char kQZSignature[4] = {'W', 'R', 'Z', 'L'};
constexpr char kLZHSignature[4] = {'!', 'H', 'Z', 'L'};
constexpr std::uint8_t kModeStored = 128;
constexpr std::uint8_t kModeCompressed = 64;
constexpr std::size_t kMaxRun = 4095;
constexpr std::size_t kMaxCopy = 18;
constexpr std::size_t kWindow = 4096;
constexpr std::uint16_t kEmpty = 0xFFFF;
// Room past a block's end for copies written in whole 18-byte moves.
constexpr std::size_t kSlack = 32;
// The encoder stops at a control word once its output passes the block's size (the block is then
// stored), so it never writes more than a block plus one group of 16 run items past that point.
constexpr std::size_t kScratch = TCompressor::kBlockSize + 128;
// Where the encoder may give up on a block that does not shrink.
constexpr std::size_t kGiveUpAfter = 4096;

void putHeader(std::string& out, const char* sig, std::size_t size) {
    out.append(sig, 4);
    for (int i = 0; i < 4; ++i)
        out.push_back(char(std::uint8_t(std::uint32_t(size) >> (8 * i))));
}

[[noreturn]] void qzDamaged() {
    throw ECompressorException(text::kQZReadError);
}

// Expands one block (mode byte and data) into dst, which has room for kBlockSize + kSlack
// bytes; returns how many bytes it made.
std::size_t expandBlock(const std::uint8_t* b, std::size_t len, std::uint8_t* dst) {
    constexpr std::size_t kMax = TCompressor::kBlockSize;
    if (len < 2) return 0;
    if (b[0] == kModeStored) {
        if (len - 1 > kMax) qzDamaged();
        std::memcpy(dst, b + 1, len - 1);
        return len - 1;
    }
    if (b[0] != kModeCompressed) qzDamaged();
    std::size_t p = 1, o = 0;
    while (p < len) {
        if (len - p < 2) qzDamaged();
        unsigned ctrl = unsigned(b[p]) << 8 | b[p + 1];
        p += 2;
        for (int k = 0; k < 16 && p < len; ++k, ctrl <<= 1) {
            if (!(ctrl & 0x8000u)) {
                if (o >= kMax) qzDamaged();
                dst[o++] = b[p++];
                continue;
            }
            if (len - p < 2) qzDamaged();
            const unsigned v = unsigned(b[p]) << 8 | b[p + 1];
            const std::size_t off = v >> 4;
            if (off == 0) {
                if (len - p < 4) qzDamaged();
                const std::size_t count = (std::size_t(b[p + 1]) << 8 | b[p + 2]) + 16;
                if (count > kMax - o) qzDamaged();
                std::memset(dst + o, b[p + 3], count);
                o += count;
                p += 4;
                continue;
            }
            const std::size_t n = (v & 15u) + 3;
            if (off > o || n > kMax - o) qzDamaged();
            std::uint8_t* d = dst + o;
            const std::uint8_t* s = d - off;
            if (off >= kMaxCopy) {
                std::memcpy(d, s, kMaxCopy); // inside the slack when it passes n
            } else {
                for (std::size_t i = 0; i < n; ++i)
                    d[i] = s[i];
            }
            o += n;
            p += 2;
        }
    }
    return o;
}

void expandQZ(std::string_view in, std::size_t declared, std::string& out) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(in.data());
    std::size_t p = 0, total = 0;
    const std::size_t base = out.size();
    out.reserve(base + std::min<std::size_t>(declared, std::size_t(64) << 20) + kSlack);
    bool lastFull = false;
    for (;;) {
        // A stream that ends where a whole last block reached the declared size lacks only its
        // empty closing block.
        if (p == in.size() && lastFull && total == declared) break;
        if (in.size() - p < 2) qzDamaged();
        const std::size_t len = std::size_t(b[p]) | std::size_t(b[p + 1]) << 8;
        p += 2;
        if (len > in.size() - p) qzDamaged();
        if (total > declared) throw ECompressorException(text::kQZSizeMismatch);
        out.resize(base + total + TCompressor::kBlockSize + kSlack);
        const std::size_t made =
            expandBlock(b + p, len, reinterpret_cast<std::uint8_t*>(out.data()) + base + total);
        p += len;
        total += made;
        out.resize(base + total);
        if (total > declared) throw ECompressorException(text::kQZSizeMismatch);
        if (made < TCompressor::kBlockSize) break;
        lastFull = true;
    }
    if (total != declared) throw ECompressorException(text::kQZSizeMismatch);
}

// How far a and b agree, up to limit bytes; eight at a time.
inline std::size_t matchLength(const std::uint8_t* a, const std::uint8_t* b, std::size_t limit) {
    std::size_t len = 0;
    while (len + 8 <= limit) {
        std::uint64_t x, y;
        std::memcpy(&x, a + len, 8);
        std::memcpy(&y, b + len, 8);
        if (const std::uint64_t d = x ^ y) {
            if constexpr (std::endian::native == std::endian::little)
                return len + std::size_t(std::countr_zero(d)) / 8;
            break;
        }
        len += 8;
    }
    while (len < limit && a[len] == b[len])
        ++len;
    return len;
}

inline std::uint64_t load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

inline std::uint16_t load16(const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

inline std::uint32_t hashOf(std::uint32_t b0, std::uint32_t b1, std::uint32_t b2) {
    return (((b0 << 4 ^ b1) << 4 ^ b2) * 40543u >> 4) & 0xFFFu;
}

std::size_t storedBlock(const std::uint8_t* in, std::size_t n, std::uint8_t* out) {
    out[0] = kModeStored;
    std::memcpy(out + 1, in, n);
    return n + 1;
}

// The length of the run of bytes equal to p[0], where p[1] and p[15] already are.
inline std::size_t runAt(const std::uint8_t* p, std::size_t left) {
    const std::size_t limit = std::min(left, kMaxRun);
    std::size_t r = 2;
    while (r < limit && p[r] == p[0])
        ++r;
    return r;
}

// A run item: a zero offset, the count less 16 and the byte.
inline std::size_t putRun(std::uint8_t* o, std::size_t r, std::uint8_t c) {
    o[0] = 0;
    o[1] = std::uint8_t((r - 16) >> 8);
    o[2] = std::uint8_t(r - 16);
    o[3] = c;
    return 4;
}

// A copy item: 12 bits of distance back and 4 bits of length less 3.
inline std::size_t putCopy(std::uint8_t* o, std::size_t back, std::size_t len) {
    const unsigned v = unsigned(back) << 4 | unsigned(len - 3);
    o[0] = std::uint8_t(v >> 8);
    o[1] = std::uint8_t(v);
    return 2;
}

} // namespace

std::size_t TCompressor::blockInto(const std::uint8_t* __restrict in, std::size_t n,
                                   std::uint8_t* __restrict out) {
    std::uint16_t* __restrict table = hash_.data();
    std::fill_n(table, hash_.size(), kEmpty);
    const std::uint16_t* __restrict hashes = hashesOf(in, n);
    out[0] = kModeCompressed;
    std::size_t op = 1, i = 0;
    // Below fastEnd a whole copy's 18 bytes can be read ahead without a bounds check.
    const std::size_t fastEnd =
        std::endian::native == std::endian::little && n >= kMaxCopy ? n - kMaxCopy : 0;
    while (i < n) {
        const std::size_t ctrlAt = op;
        op += 2;
        unsigned ctrl = 0;
        int k = 0;
        for (; k < 16 && i < fastEnd; ++k) {
            const std::uint64_t w = load64(in + i);
            const auto c = std::uint8_t(w);
            if (std::uint8_t(w >> 8) == c && in[i + 15] == c) {
                if (const std::size_t r = runAt(in + i, n - i); r >= 16) {
                    ctrl = ctrl << 1 | 1u;
                    op += putRun(out + op, r, c);
                    i += r;
                    continue;
                }
            }
            const std::size_t h = hashes[i];
            const std::size_t back = i - table[h]; // huge when the slot is empty
            table[h] = std::uint16_t(i);
            // An empty or distant slot compares the position with itself and is made to
            // differ, so that only one branch decides between a copy and a literal.
            const bool near = back - 1 < kWindow - 1;
            const std::uint8_t* from = in + i - (near ? back : 0);
            std::uint64_t x = (w ^ load64(from)) | std::uint64_t(!near);
            if ((x & 0xFFFFFFu) == 0) {
                std::size_t len;
                if (x) {
                    len = std::size_t(std::countr_zero(x)) / 8;
                } else if ((x = load64(in + i + 8) ^ load64(from + 8))) {
                    len = 8 + std::size_t(std::countr_zero(x)) / 8;
                } else {
                    const unsigned y = unsigned(load16(in + i + 16) ^ load16(from + 16));
                    len = 16 + std::size_t(std::countr_zero(y | 0x10000u)) / 8;
                }
                ctrl = ctrl << 1 | 1u;
                op += putCopy(out + op, back, len);
                i += len;
                continue;
            }
            ctrl <<= 1;
            out[op++] = c;
            ++i;
        }
        for (; k < 16 && i < n; ++k) {
            const std::uint8_t c = in[i];
            const std::size_t left = n - i;
            if (left >= 16 && in[i + 1] == c && in[i + 15] == c) {
                if (const std::size_t r = runAt(in + i, left); r >= 16) {
                    ctrl = ctrl << 1 | 1u;
                    op += putRun(out + op, r, c);
                    i += r;
                    continue;
                }
            }
            if (left >= 3) {
                const std::size_t h = hashes[i];
                const std::size_t cand = table[h];
                table[h] = std::uint16_t(i);
                if (cand < i && i - cand < kWindow) {
                    const std::size_t len =
                        matchLength(in + cand, in + i, std::min(left, kMaxCopy));
                    if (len >= 3) {
                        ctrl = ctrl << 1 | 1u;
                        op += putCopy(out + op, i - cand, len);
                        i += len;
                        continue;
                    }
                }
            }
            ctrl <<= 1;
            out[op++] = c;
            ++i;
        }
        ctrl <<= (16 - k);
        out[ctrlAt] = std::uint8_t(ctrl >> 8);
        out[ctrlAt + 1] = std::uint8_t(ctrl);
        if (op > n) return storedBlock(in, n, out);
        // Incompressible input: once a good part of the block came out longer than it went in,
        // the rest will not win enough back; storing it now saves the search.
        if (i < n && i >= kGiveUpAfter && op > i + i / 16) return storedBlock(in, n, out);
    }
    // An empty block: the mode byte alone would be shorter than a stored empty block's.
    if (op > n) return storedBlock(in, n, out);
    return op;
}

const std::uint16_t* TCompressor::hashesOf(const std::uint8_t* in, std::size_t n) {
    if (hashes_.empty()) {
        try {
            hashes_.resize(kBlockSize);
        } catch (const std::bad_alloc&) {
            throw ECompressorQZCompressor(text::kNoHashTable);
        }
    }
    std::uint16_t* h = hashes_.data();
    std::size_t k = 0;
    // The hash needs only the low 16 bits of the product, so eight positions go through one
    // 16-bit multiply.
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i mul = _mm_set1_epi16(std::int16_t(40543 - 65536));
    for (; k + 10 <= n; k += 8) {
        const __m128i b0 = _mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i*)(in + k)), zero);
        const __m128i b1 = _mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i*)(in + k + 1)), zero);
        const __m128i b2 = _mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i*)(in + k + 2)), zero);
        const __m128i x =
            _mm_xor_si128(_mm_xor_si128(_mm_slli_epi16(b0, 8), _mm_slli_epi16(b1, 4)), b2);
        _mm_storeu_si128((__m128i*)(h + k), _mm_srli_epi16(_mm_mullo_epi16(x, mul), 4));
    }
#endif
    for (; k + 2 < n; ++k)
        h[k] = std::uint16_t(hashOf(in[k], in[k + 1], in[k + 2]));
    return h;
}

std::size_t TCompressor::CompressBlock(std::string_view block, std::string& out) {
    const std::size_t n = std::min(block.size(), kBlockSize);
    const std::size_t base = out.size();
    out.resize(base + kScratch);
    const std::size_t made = blockInto(reinterpret_cast<const std::uint8_t*>(block.data()), n,
                                       reinterpret_cast<std::uint8_t*>(out.data()) + base);
    out.resize(base + made);
    return made;
}

void TCompressor::compressQZ(std::string_view in, std::string& out) {
    putHeader(out, kQZSignature, in.size());
    out.reserve(out.size() + in.size() + in.size() / kBlockSize * 3 + 3);
    std::size_t p = 0;
    for (;;) {
        const std::size_t n = std::min(in.size() - p, kBlockSize);
        const std::size_t at = out.size();
        out.resize(at + 2);
        const std::size_t len = CompressBlock(in.substr(p, n), out);
        out[at] = char(std::uint8_t(len));
        out[at + 1] = char(std::uint8_t(len >> 8));
        p += n;
        // The last block is the first one shorter than a whole block, an empty one if need be.
        if (n < kBlockSize) break;
    }
}

void TCompressor::compressLZH(std::string_view in, std::string& out) {
    putHeader(out, kLZHSignature, in.size());
    detail::lzhEncode(in, out);
}

std::size_t TCompressor::Compress(std::string_view in, std::string& out) {
    if (in.size() > std::size_t(std::numeric_limits<std::int32_t>::max()))
        throw ECompressorException(text::kNoInputSize);
    const std::size_t base = out.size();
    if (Method == cmAdvise) Advise(in);
    try {
        if (Method == cmLZH)
            compressLZH(in, out);
        else
            compressQZ(in, out);
    } catch (const std::bad_alloc&) {
        out.resize(base);
        throw ECompressorException(text::kWriteError);
    }
    return out.size() - base;
}

std::size_t TCompressor::Decompress(std::string_view in, std::string& out) {
    if (in.size() < kHeaderSize) throw ECompressorException(text::kNoHeader);
    const bool qz = std::memcmp(in.data(), kQZSignature, 4) == 0;
    const bool lzh = std::memcmp(in.data(), kLZHSignature, 4) == 0;
    if (!qz && !lzh) throw ECompressorException(text::kNoHeader);
    std::uint32_t raw = 0;
    for (int i = 0; i < 4; ++i)
        raw |= std::uint32_t(std::uint8_t(in[4 + std::size_t(i)])) << (8 * i);
    const auto declared = std::int32_t(raw);
    if (declared < 0)
        throw ECompressorException(qz ? text::kQZSizeMismatch : text::kLZHSizeMismatch);
    if (std::size_t(declared) > MaxExpandedSize) throw ECompressorException(text::kTooLarge);
    const std::size_t base = out.size();
    try {
        if (qz)
            expandQZ(in.substr(kHeaderSize), std::size_t(declared), out);
        else {
            // An LZH symbol of a few bits can stand for 60 bytes: nothing larger is reserved.
            out.reserve(base + std::min<std::size_t>(std::size_t(declared), in.size() * 64 + 64));
            detail::lzhDecode(in.substr(kHeaderSize), std::size_t(declared), out);
        }
    } catch (const std::bad_alloc&) {
        out.resize(base);
        throw ECompressorException(text::kWriteError);
    } catch (...) {
        out.resize(base);
        throw;
    }
    return out.size() - base;
}

int TCompressor::Advise(std::string_view in) {
    if (in.size() <= 98303) {
        Method = cmLZH;
        return Method;
    }
    std::string scratch;
    std::size_t packed = 0, sampled = 0;
    for (std::size_t third : {in.size() / 3, in.size() / 3 * 2}) {
        const std::size_t at = third / kBlockSize * kBlockSize;
        const std::string_view sample = in.substr(at, kBlockSize);
        scratch.clear();
        packed += CompressBlock(sample, scratch);
        sampled += sample.size();
    }
    Method =
        packed * 100 < std::size_t(std::max(AdviseThreshold, 0)) * sampled ? cmCompressorQZ : cmLZH;
    return Method;
}

} // namespace morvane::highlight
