// Times the block method on one file: compress and decompress, the median of several runs, in
// MB/s of uncompressed bytes. Used by compare_lz4.sh beside lz4 -1 and gzip -1.
//   morvane_compress_bench FILE [runs]
#include "core/highlight/Compressor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

using namespace morvane::highlight;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [runs]\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string data = ss.str();
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
    using clock = std::chrono::steady_clock;
    std::vector<double> pack, unpack;
    std::string packed, out;
    TCompressor c;
    c.Method = cmCompressorQZ;
    c.MaxExpandedSize = data.size(); // the bench's own file may be larger than a highlighter
    for (int r = 0; r < runs; ++r) {
        packed.clear();
        auto t0 = clock::now();
        c.Compress(data, packed);
        auto t1 = clock::now();
        out.clear();
        c.Decompress(packed, out);
        auto t2 = clock::now();
        if (out != data) {
            std::fprintf(stderr, "round trip failed\n");
            return 1;
        }
        pack.push_back(double(data.size()) / 1e6 / std::chrono::duration<double>(t1 - t0).count());
        unpack.push_back(double(data.size()) / 1e6 /
                         std::chrono::duration<double>(t2 - t1).count());
    }
    std::sort(pack.begin(), pack.end());
    std::sort(unpack.begin(), unpack.end());
    std::printf("%-10s ratio %5.1f%%  compress %7.1f MB/s  decompress %7.1f MB/s\n", "WRZL",
                100.0 * double(packed.size()) / double(std::max<std::size_t>(1, data.size())),
                pack[pack.size() / 2], unpack[unpack.size() / 2]);
    return 0;
}
