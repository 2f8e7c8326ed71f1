// libFuzzer entry: any bytes as a compressed stream (block method and LZH, the signature chosen
// by the first byte) and as a highlighter's stored form. Only the compressor's and the
// highlighter's own errors may come out; a crash, a hang or another exception is a finding.
#include "core/editor/CodeMemoError.h"
#include "core/highlight/CodeMemoParser.h"
#include "core/highlight/Compressor.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!bytes.empty()) {
        // The declared size is kept small so that a run spends its time in the decoders.
        std::string stream = (bytes[0] & 1) ? "!HZL" : "WRZL";
        const std::uint32_t declared = std::uint8_t(bytes[0]) * 700u;
        for (int i = 0; i < 4; ++i)
            stream.push_back(char(declared >> (8 * i)));
        stream.append(bytes.substr(1));
        try {
            std::string out;
            highlight::TCompressor().Decompress(stream, out);
            if (out.size() != declared) __builtin_trap();
        } catch (const highlight::ECompressorException&) {
        }
        try {
            std::string out;
            highlight::TCompressor().Decompress(bytes, out);
        } catch (const highlight::ECompressorException&) {
        }
    }
    highlight::TCodeMemoParser parser;
    try {
        parser.LoadStored(bytes);
        // What was read must write and read again.
        highlight::TCodeMemoParser copy;
        copy.LoadStored(parser.SaveStored());
    } catch (const editor::ECodeMemo&) {
    }
    return 0;
}
