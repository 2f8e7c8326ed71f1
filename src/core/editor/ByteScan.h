#pragma once
// Scans over bytes sixteen at a time, for loading text of hundreds of megabytes: one pass finds
// every byte of interest, where a search per line pays a call for each of millions of lines.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace morvane::editor {

// Finds the next byte c at or after a position, 64 bytes at a time: each window of text is
// compared once, however many lines it holds.
class TByteFinder {
public:
    TByteFinder(const char* text, std::size_t size, char c) : t_(text), n_(size), c_(c) {}
    // The first i >= from with text[i] == c, or size when there is none.
    std::size_t Next(std::size_t from) {
        while (from < n_) {
            const std::size_t w = from >> 6;
            if (w != window_) Load(w);
            const std::uint64_t m = mask_ >> (from & 63);
            if (m) return from + static_cast<std::size_t>(__builtin_ctzll(m));
            from = (w + 1) << 6;
        }
        return n_;
    }

private:
    void Load(std::size_t w) {
        window_ = w;
        const std::size_t at = w << 6;
        const char* p = t_ + at;
        mask_ = 0;
        if (at + 64 <= n_) {
#if defined(__SSE2__)
            const __m128i vc = _mm_set1_epi8(c_);
            for (int k = 0; k < 4; ++k) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
                const auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, vc)));
                mask_ |= static_cast<std::uint64_t>(bits) << (16 * k);
            }
            return;
#endif
        }
        const std::size_t end = std::min<std::size_t>(64, n_ - at);
        for (std::size_t i = 0; i < end; ++i)
            if (p[i] == c_) mask_ |= std::uint64_t(1) << i;
    }

    const char* t_;
    std::size_t n_;
    char c_;
    std::size_t window_ = static_cast<std::size_t>(-1);
    std::uint64_t mask_ = 0;
};

// Turns every byte `from` in p[0, n) into `to`; true when there was any.
inline bool ReplaceBytes(char* p, std::size_t n, char from, char to) {
    std::size_t i = 0;
    bool any = false;
#if defined(__SSE2__)
    const __m128i vf = _mm_set1_epi8(from);
    const __m128i delta = _mm_set1_epi8(static_cast<char>(to - from));
    __m128i seen = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        auto* q = reinterpret_cast<__m128i*>(p + i);
        const __m128i v = _mm_loadu_si128(q);
        const __m128i m = _mm_cmpeq_epi8(v, vf);
        seen = _mm_or_si128(seen, m);
        _mm_storeu_si128(q, _mm_add_epi8(v, _mm_and_si128(m, delta)));
    }
    any = _mm_movemask_epi8(seen) != 0;
#endif
    for (; i < n; ++i)
        if (p[i] == from) {
            p[i] = to;
            any = true;
        }
    return any;
}

} // namespace morvane::editor
