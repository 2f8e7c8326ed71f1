#pragma once
// TCompressor: the program's own compressor with two methods over memory buffers: the block
// method ("WRZL": 32768-byte blocks of literals, short copies and runs; fast) and the LZH method
// ("!HZL": a sliding dictionary with adaptive Huffman coding; smaller, slow). A stream is the
// 4-byte signature, the uncompressed size (int32) and the method's data.
//
// Decoders trust nothing they read: every length, offset and count is checked against the
// buffers and against the declared size before it is used, and damage raises
// ECompressorException with the texts below.

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::highlight {

class ECompressorException : public std::runtime_error {
public:
    explicit ECompressorException(const std::string& message) : std::runtime_error(message) {}
};

// The block method's hash table could not be allocated.
class ECompressorQZCompressor : public ECompressorException {
public:
    using ECompressorException::ECompressorException;
};

// A damaged or short LZH stream.
class ElzhException : public ECompressorException {
public:
    using ECompressorException::ECompressorException;
};

namespace compressor_text {
inline constexpr const char* kNoHeader =
    "Compressor decompression : input stream contains no valid header !";
inline constexpr const char* kQZSizeMismatch =
    "Compressor (decompression Compressor/QZ) : Original and compressed sizes do not match !";
inline constexpr const char* kLZHSizeMismatch =
    "Compressor (LZH decompression) : Original and compressed sizes do not match !";
inline constexpr const char* kWriteError = "Compressor : Error writing to output stream !";
inline constexpr const char* kReadError = "Compressor : Error reading from input stream !";
inline constexpr const char* kLZHReadError = "Compressor : Error reading from input stream ! (LZH)";
inline constexpr const char* kQZReadError =
    "Compressor : Error reading from input stream ! (Compressor/QZ)";
inline constexpr const char* kNoInput =
    "Compressor (de)compression : Failed to initialize input stream !";
inline constexpr const char* kNoOutput =
    "Compressor (de)compression : Failed to initialize output stream !";
inline constexpr const char* kNoInputSize =
    "Compressor compression : Failed to obtain the size of the input stream !";
inline constexpr const char* kNoBuffers =
    "Compressor (de)compression : Failed to get memory for I/O buffers !";
inline constexpr const char* kNoHashTable = "CompressorQZ : no memory for HASH table";
inline constexpr const char* kTooLarge =
    "Compressor decompression : the declared size is larger than allowed !";
} // namespace compressor_text

enum TCompressMethod : int { cmLZH = 0, cmCompressorQZ = 1, cmAdvise = 2 };

class TCompressor {
public:
    static constexpr std::size_t kBlockSize = 32768;
    static constexpr std::size_t kHeaderSize = 8;
    // The size of the largest stored block: the mode byte and a whole block.
    static constexpr std::size_t kMaxBlockLength = kBlockSize + 1;

    // cmLZH, cmCompressorQZ, or cmAdvise (Compress then sets it to the method chosen).
    int Method = cmCompressorQZ;
    // Advise picks the block method when its samples shrink below this percentage.
    int AdviseThreshold = 40;
    // A stream declaring more than this is refused before anything is expanded or reserved:
    // a few megabytes of damaged input could otherwise claim gigabytes.
    static constexpr std::size_t kDefaultMaxExpanded = std::size_t(16) << 20;
    std::size_t MaxExpandedSize = kDefaultMaxExpanded;

    // Appends the compressed stream of in to out; returns the number of bytes appended.
    std::size_t Compress(std::string_view in, std::string& out);
    // Appends what in expands to; returns the number of bytes appended. Raises
    // ECompressorException for a damaged stream, leaving out as it was.
    std::size_t Decompress(std::string_view in, std::string& out);
    // Sets Method to the block method or LZH from two samples of in, and returns it.
    int Advise(std::string_view in);

    // One block of at most kBlockSize bytes in its block form (mode byte and data), appended to
    // out. Exposed for tests and the benchmark.
    std::size_t CompressBlock(std::string_view block, std::string& out);

private:
    void compressQZ(std::string_view in, std::string& out);
    void compressLZH(std::string_view in, std::string& out);
    // One block into out (room for a block and 128 bytes); returns its length.
    std::size_t blockInto(const std::uint8_t* __restrict in, std::size_t n,
                          std::uint8_t* __restrict out);
    // The hash of the three bytes at every position of a block.
    const std::uint16_t* hashesOf(const std::uint8_t* in, std::size_t n);

    // Positions of the last three-byte sequence seen per hash, inside the current block.
    std::array<std::uint16_t, 4096> hash_{};
    std::vector<std::uint16_t> hashes_;
};

} // namespace morvane::highlight

namespace morvane::highlight::detail {
// The LZH method's bit stream of in, appended to out.
void lzhEncode(std::string_view in, std::string& out);
// Expands an LZH bit stream to exactly size bytes appended to out; raises ElzhException when
// the stream runs out and ECompressorException when it would pass size.
void lzhDecode(std::string_view in, std::size_t size, std::string& out);
} // namespace morvane::highlight::detail
