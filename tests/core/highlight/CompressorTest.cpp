// Both compression methods: round trips, the block method's exact form, and damaged streams.
#include "core/highlight/Compressor.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace morvane::highlight;
namespace text = morvane::highlight::compressor_text;

namespace {

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s)
        c = char(rng());
    return s;
}

// Source-like text: words from a small vocabulary, runs of blanks, line breaks.
std::string compressible(std::size_t n, unsigned seed) {
    static const char* words[] = {"int ", "return ", "value",     "(x)",
                                  ";\n",  "    ",    "// note\n", "if (a == b) ",
                                  "{\n",  "}\n",     "\t\t",      "0000000000000000000000"};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n)
        s += words[rng() % std::size(words)];
    s.resize(n);
    return s;
}

std::string pack(std::string_view in, int method) {
    TCompressor c;
    c.Method = method;
    std::string out;
    const std::size_t made = c.Compress(in, out);
    EXPECT_EQ(made, out.size());
    return out;
}

std::string unpack(std::string_view in) {
    TCompressor c;
    std::string out;
    c.Decompress(in, out);
    return out;
}

std::string blockStream(std::string_view block, std::int32_t size) {
    std::string s = "WRZL";
    for (int i = 0; i < 4; ++i)
        s.push_back(char(std::uint32_t(size) >> (8 * i)));
    s.push_back(char(block.size() & 255));
    s.push_back(char(block.size() >> 8));
    s += block;
    return s;
}

void expectError(std::string_view stream, const char* message) {
    TCompressor c;
    std::string out = "kept";
    try {
        c.Decompress(stream, out);
        FAIL() << "no error for a stream of " << stream.size() << " bytes";
    } catch (const ECompressorException& e) {
        EXPECT_STREQ(e.what(), message);
    }
    EXPECT_EQ(out, "kept");
}

// The block form written step by step, one byte at a time, as a check on the encoder's fast
// paths (including its early store of a block that does not shrink).
std::string plainBlock(const std::string& s) {
    const auto* in = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::vector<int> table(4096, -1);
    std::string out(1, char(64));
    std::size_t ctrlAt = 1, i = 0;
    unsigned ctrl = 0;
    int items = 0;
    out += std::string(2, '\0');
    const std::string stored = char(128) + s;
    while (i < n) {
        if (items == 16) {
            out[ctrlAt] = char(ctrl >> 8);
            out[ctrlAt + 1] = char(ctrl);
            if (out.size() > n || (i >= 4096 && out.size() > i + i / 16)) return stored;
            ctrlAt = out.size();
            out += std::string(2, '\0');
            ctrl = 0;
            items = 0;
        }
        ++items;
        std::size_t run = 1;
        while (run < 4095 && i + run < n && in[i + run] == in[i])
            ++run;
        if (run >= 16) {
            ctrl = ctrl << 1 | 1;
            out += std::string{'\0', char((run - 16) >> 8), char(run - 16), char(in[i])};
            i += run;
            continue;
        }
        if (n - i >= 3) {
            const unsigned h =
                (((unsigned(in[i]) * 16 ^ in[i + 1]) * 16 ^ in[i + 2]) * 40543u >> 4) & 0xFFF;
            const int cand = table[h];
            table[h] = int(i);
            if (cand >= 0 && i - std::size_t(cand) < 4096) {
                std::size_t len = 0;
                while (len < 18 && i + len < n && in[cand + len] == in[i + len])
                    ++len;
                if (len >= 3) {
                    const unsigned v = unsigned(i - cand) << 4 | unsigned(len - 3);
                    ctrl = ctrl << 1 | 1;
                    out += std::string{char(v >> 8), char(v)};
                    i += len;
                    continue;
                }
            }
        }
        ctrl <<= 1;
        out += char(in[i]);
        ++i;
    }
    ctrl <<= 16 - items;
    out[ctrlAt] = char(ctrl >> 8);
    out[ctrlAt + 1] = char(ctrl);
    return out.size() > n ? stored : out;
}

} // namespace

TEST(Compressor, BothMethodsRoundTripEverySizeAndKindOfData) {
    std::mt19937 rng(7);
    for (std::size_t n : {std::size_t(0), std::size_t(1), std::size_t(32767), std::size_t(32768),
                          std::size_t(32769), std::size_t(65536), std::size_t(rng() % 200000)}) {
        for (const std::string& data :
             {randomBytes(n, unsigned(n)), compressible(n, unsigned(n)), std::string(n, 'q')}) {
            for (int method : {cmCompressorQZ, cmLZH}) {
                SCOPED_TRACE(testing::Message() << "size " << n << " method " << method);
                const std::string packed = pack(data, method);
                EXPECT_EQ(unpack(packed), data);
            }
        }
    }
}

TEST(Compressor, BlockMethodShrinksTextAndStoresWhatItCannotShrink) {
    const std::string text = compressible(300000, 3);
    EXPECT_LT(pack(text, cmCompressorQZ).size(), text.size() / 2);
    EXPECT_LT(pack(text, cmLZH).size(), text.size() / 3);
    // Incompressible blocks are stored: mode byte 128, so a block costs 3 bytes more.
    const std::string noise = randomBytes(65536, 1);
    EXPECT_EQ(pack(noise, cmCompressorQZ).size(), 8 + 2 * (2 + 1 + 32768) + 3);
}

TEST(Compressor, BlocksMixingNoiseAndTextRoundTripAndNeverGrowPastStored) {
    // Noise before text, text before noise, and noise with short repeats: wherever the encoder
    // gives up or goes on, the block reads back and costs at most a stored block.
    const std::string text = compressible(40000, 5), noise = randomBytes(40000, 6);
    std::string salted = noise.substr(0, 32768);
    for (std::size_t i = 0; i + 40 < salted.size(); i += 97)
        salted.replace(i, 8, "abcdefgh");
    for (const std::string& in : {noise.substr(0, 3000) + text.substr(0, 29768),
                                  noise.substr(0, 9000) + text.substr(0, 23768),
                                  text.substr(0, 20000) + noise.substr(0, 12768), salted}) {
        ASSERT_EQ(in.size(), 32768u);
        const std::string packed = pack(in, cmCompressorQZ);
        EXPECT_EQ(unpack(packed), in);
        EXPECT_LE(packed.size(), 8 + 2 + 1 + 32768 + 3);
    }
    // Text behind a short stretch of noise still shrinks.
    EXPECT_LT(pack(noise.substr(0, 3000) + text.substr(0, 29768), cmCompressorQZ).size(), 30000u);
}

TEST(Compressor, BlockFormMatchesTheWrittenVectors) {
    TCompressor c;
    std::string out;
    // Twenty equal bytes are one run item; the control word marks it and three literals.
    c.CompressBlock(std::string(20, 'a') + "bcd", out);
    EXPECT_EQ(out, std::string("\x40\x80\x00\x00\x00\x04"
                               "abcd",
                               10));
    // The farthest copy (4095 back) of the longest length (18) is the two bytes 255 255.
    const std::string x = "ABCDEFGHIJKLMNOPQR";
    out.clear();
    c.CompressBlock(x + std::string(4077, 'z') + x, out);
    std::string expected =
        std::string("\x40\x00\x00", 3) + x.substr(0, 16) + std::string("\x30\x00", 2) + "QR";
    expected += std::string("\x00\x0F\xDD"
                            "z\xFF\xFF",
                            6);
    EXPECT_EQ(out, expected);
    // An empty input is one empty stored block.
    EXPECT_EQ(pack("", cmCompressorQZ), std::string("WRZL\0\0\0\0\x01\x00\x80", 11));
    // A whole number of blocks ends with an empty one, and reading stops there.
    const std::string two = pack(std::string(65536, 'x'), cmCompressorQZ);
    EXPECT_EQ(two.substr(two.size() - 3), std::string("\x01\x00\x80", 3));
    EXPECT_EQ(unpack(two + "trailing bytes"), std::string(65536, 'x'));
}

TEST(Compressor, BlockFormIsWhatTheStepByStepEncoderWrites) {
    TCompressor c;
    std::mt19937 rng(11);
    const std::string text = compressible(70000, 12), noise = randomBytes(70000, 13);
    std::vector<std::string> inputs;
    for (std::size_t n : {0, 1, 2, 3, 15, 16, 17, 18, 19, 20, 33, 35, 100, 4097, 32767, 32768}) {
        inputs.push_back(text.substr(0, n));
        inputs.push_back(std::string(n, ' '));
    }
    // Runs, copies and noise meeting the block's end at every distance from it.
    for (std::size_t tail = 0; tail < 40; ++tail) {
        inputs.push_back(text.substr(0, 32768 - tail) + std::string(tail, 'q'));
        inputs.push_back(text.substr(100, 32768 - 40) + text.substr(0, 40 - tail));
        inputs.push_back(noise.substr(0, 32768 - 60) + text.substr(tail, 60));
    }
    for (int k = 0; k < 40; ++k) {
        std::string s;
        const std::size_t n = rng() % 32769;
        while (s.size() < n) {
            const unsigned kind = rng() % 4;
            const std::size_t len = 1 + rng() % (kind == 0 ? 40 : 300);
            if (kind == 0)
                s += std::string(len, char(rng() % 4 ? ' ' : rng()));
            else if (kind == 1)
                s += noise.substr(rng() % 60000, len);
            else
                s += text.substr(rng() % 60000, len);
        }
        s.resize(n);
        inputs.push_back(s);
    }
    inputs.push_back(noise.substr(0, 5000) + text.substr(0, 27768));
    inputs.push_back(noise.substr(0, 32768));
    for (const std::string& in : inputs) {
        std::string out;
        c.CompressBlock(in, out);
        ASSERT_EQ(out, plainBlock(in)) << "block of " << in.size() << " bytes";
    }
    // A block is a view into a longer input: nothing past its end may take part, even where it
    // would lengthen a copy.
    std::string period;
    while (period.size() < 33000)
        period += "abcdefghijklmnopqrst";
    for (std::size_t n = 32768 - 60; n <= 32768; ++n) {
        std::string out;
        c.CompressBlock(std::string_view(period).substr(0, n), out);
        ASSERT_EQ(out, plainBlock(period.substr(0, n))) << "block of " << n << " bytes";
    }
}

TEST(Compressor, AdviseChoosesByTheTwoSamples) {
    TCompressor c;
    EXPECT_EQ(c.Advise(compressible(98303, 1)), cmLZH);
    EXPECT_EQ(c.Advise(std::string(98304, 'a')), cmCompressorQZ);
    EXPECT_EQ(c.Advise(randomBytes(400000, 2)), cmLZH);
    // Only the samples at one and two thirds count.
    std::string mixed = randomBytes(98304 * 3, 4);
    std::fill_n(mixed.begin() + 98304, 32768, ' ');
    std::fill_n(mixed.begin() + 196608, 32768, ' ');
    EXPECT_EQ(c.Advise(mixed), cmCompressorQZ);
    c.AdviseThreshold = 0;
    EXPECT_EQ(c.Advise(mixed), cmLZH);
    // Compress with advice leaves the method chosen and writes its signature.
    c.AdviseThreshold = 40;
    c.Method = cmAdvise;
    std::string out;
    c.Compress(std::string(200000, 'a'), out);
    EXPECT_EQ(c.Method, cmCompressorQZ);
    EXPECT_EQ(out.substr(0, 4), "WRZL");
}

TEST(Compressor, HeadersAndDeclaredSizesAreChecked) {
    expectError("", text::kNoHeader);
    expectError("WRZ", text::kNoHeader);
    expectError(std::string("ABCD\0\0\0\0\x01\x00\x80", 11), text::kNoHeader);
    // Negative and 2 GB sizes for an input that holds far less.
    expectError(blockStream("\x80", -1), text::kQZSizeMismatch);
    expectError(blockStream("\x80", std::int32_t(0x7FFFFFFF)), text::kTooLarge);
    expectError(blockStream("\x80xyz", 2), text::kQZSizeMismatch);
    std::string lzh = pack("hello", cmLZH);
    lzh[7] = char(0x80);
    expectError(lzh, text::kLZHSizeMismatch);
    lzh = pack("hello", cmLZH);
    lzh[4] = char(0xFF);
    lzh[5] = char(0xFF);
    lzh[6] = char(0xFF);
    lzh[7] = char(0x7F);
    expectError(lzh, text::kTooLarge);
}

TEST(Compressor, ADeclaredSizeAboveTheLimitIsRefusedEvenWhenTheStreamIsValid) {
    // Zeros pack hundreds to one, so a small input honestly expands past the limit.
    const std::size_t limit = TCompressor::kDefaultMaxExpanded;
    for (int method : {cmCompressorQZ, cmLZH}) {
        const std::string over = pack(std::string(limit + 1, '\0'), method);
        EXPECT_LT(over.size(), limit / 40);
        expectError(over, text::kTooLarge);
        // A caller may raise the limit for its own data.
        TCompressor roomy;
        roomy.MaxExpandedSize = limit + 1;
        std::string out;
        EXPECT_EQ(roomy.Decompress(over, out), limit + 1);
    }
    // The limit itself is allowed.
    EXPECT_EQ(unpack(pack(std::string(limit, 'a'), cmCompressorQZ)).size(), limit);
}

TEST(Compressor, DamagedBlocksNeverReachOutsideTheirBuffers) {
    // Unknown mode, a block length past the input, a copy before the block's start, a copy and
    // a run past the block's end, an item cut off, a control word cut off.
    expectError(blockStream(std::string("\x41\x00\x00x", 4), 1), text::kQZReadError);
    std::string longLen = blockStream("\x80xy", 2);
    longLen[8] = 9;
    expectError(longLen, text::kQZReadError);
    expectError(blockStream(std::string("\x40\x40\x00xy\x00\x30", 7), 5), text::kQZReadError);
    std::string pastEnd = std::string("\x40\x00\x00", 3) + std::string(16, 'x');
    expectError(blockStream(pastEnd, 17), text::kQZSizeMismatch); // sound block, other size
    std::string run = std::string("\x40\x80\x00\x00\x7F\xFF", 6) + "a";
    expectError(blockStream(run, 32783), text::kQZReadError);
    expectError(blockStream(std::string("\x40\x80\x00\x00\x00", 5), 0), text::kQZReadError);
    expectError(blockStream(std::string("\x40\x80\x00\x00", 4), 0), text::kQZReadError);
    expectError(blockStream(std::string("\x40\x00", 2), 0), text::kQZReadError);
}

TEST(Compressor, EveryTruncationOfAValidStreamIsAnError) {
    for (int method : {cmCompressorQZ, cmLZH}) {
        const std::size_t n = method == cmLZH ? 6000 : 40000; // LZH decodes bit by bit
        const std::string data = compressible(n, 9) + randomBytes(3000, 9);
        const std::string packed = pack(data, method);
        for (std::size_t cut = 0; cut < packed.size(); ++cut) {
            TCompressor c;
            std::string out;
            // Only the QZ stream's empty closing block may be left off.
            EXPECT_THROW(c.Decompress(std::string_view(packed).substr(0, cut), out),
                         ECompressorException)
                << "method " << method << " cut at " << cut;
        }
    }
    const std::string whole = pack(std::string(32768, 'w'), cmCompressorQZ);
    EXPECT_EQ(unpack(std::string_view(whole).substr(0, whole.size() - 3)), std::string(32768, 'w'));
}

TEST(Compressor, RandomBytesAfterAHeaderGiveAnErrorOrAResultOfTheDeclaredSize) {
    std::mt19937 rng(11);
    for (int round = 0; round < 3000; ++round) {
        std::string s = randomBytes(rng() % 300, rng());
        const std::uint32_t size = rng() % 70000;
        std::string head = round % 2 ? "WRZL" : "!HZL";
        for (int i = 0; i < 4; ++i)
            head.push_back(char(size >> (8 * i)));
        if (round % 4 < 2 && s.size() >= 3) s[2] = char(0x40 + (round & 0x40)); // mode byte
        TCompressor c;
        std::string out;
        try {
            c.Decompress(head + s, out);
            EXPECT_EQ(out.size(), size);
        } catch (const ECompressorException&) {
            EXPECT_TRUE(out.empty());
        }
    }
}
