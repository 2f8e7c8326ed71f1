#include "EditorTestUtil.h"

#include "core/editor/SliceLoad.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane::editor {
namespace {
using namespace test;

// A file's bytes as a stream that may grow, shrink or fail with an I/O error at a given offset.
class FaultyStream final : public TStream {
public:
    explicit FaultyStream(std::string data) : data_(std::move(data)) {}
    std::size_t Read(void* buffer, std::size_t count) override {
        if (failAt_ && pos_ >= *failAt_) throw EStreamError("Read error: Input/output error");
        std::size_t n = std::min(count, data_.size() - pos_);
        if (failAt_) n = std::min(n, *failAt_ - pos_);
        std::memcpy(buffer, data_.data() + pos_, n);
        pos_ += n;
        if (reads_) ++*reads_;
        return n;
    }
    std::size_t Write(const void*, std::size_t) override { return 0; }
    std::int64_t Seek(std::int64_t, TSeekOrigin) override { return std::int64_t(pos_); }

    std::string data_;
    std::optional<std::size_t> failAt_;
    std::size_t pos_ = 0;
    int* reads_ = nullptr; // counted outside: the load deletes its stream when it ends
};

std::string Lines(std::size_t bytes, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < bytes) {
        s += "line " + std::to_string(rng() % 100000);
        s += rng() % 7 == 0 ? "\r\n" : "\n";
    }
    s.resize(bytes);
    return s;
}

// The text a whole, ordinary load gives.
std::string Whole(const std::string& raw) {
    TCustomCodeMemo m;
    TMemoryStream in(raw);
    m.LoadFromStream(in);
    return Stored(m);
}

class MemoryStandIn {
public:
    explicit MemoryStandIn(const char* bytes) { ::setenv("MORVANE_AVAILABLE_MEMORY", bytes, 1); }
    ~MemoryStandIn() { ::unsetenv("MORVANE_AVAILABLE_MEMORY"); }
};

TEST(SliceLoadTest, SlicesOfAnySizeGiveTheWholeText) {
    const std::string raw = Lines(3 * 1024 * 1024 + 17, 1);
    const std::string expected = Whole(raw);
    for (std::size_t slice : {std::size_t(1000), std::size_t(65536), std::size_t(1024 * 1024 + 3),
                              std::size_t(64) << 20}) {
        TCustomCodeMemo m;
        Load(m, "the old text");
        auto* stream = new FaultyStream(raw);
        int reads = 0;
        stream->reads_ = &reads;
        TSliceLoad load(m, std::unique_ptr<TStream>(stream), raw.size(), "a.txt");
        EXPECT_TRUE(m.LoadingPieces());
        int steps = 0;
        while (load.Step(slice))
            ASSERT_LT(++steps, 5000);
        ASSERT_EQ(load.Status(), TSliceLoad::State::Done) << load.Error();
        EXPECT_EQ(load.BytesRead(), raw.size());
        EXPECT_EQ(load.Percent(), 100);
        EXPECT_FALSE(m.LoadingPieces());
        ASSERT_NO_FATAL_FAILURE(CheckChain(m));
        EXPECT_EQ(Stored(m), expected) << "slice " << slice;
        // Reads are no larger than a slice, and none goes past the size.
        const std::size_t perRead = std::min<std::size_t>(slice, 64 * 1024);
        EXPECT_LE(std::size_t(reads), 2 * ((raw.size() + perRead - 1) / perRead));
    }
}

TEST(SliceLoadTest, GrowthIsLeftForLaterAndShrinkingClosesTheDocument) {
    const std::string raw = Lines(2'500'000, 2);
    {
        // Bytes appended after the size was taken: the document is the file as it was.
        TCustomCodeMemo m;
        auto* stream = new FaultyStream(raw + "appended while loading\n");
        TSliceLoad load(m, std::unique_ptr<TStream>(stream), raw.size(), "grow.log");
        while (load.Step(100000)) {
        }
        ASSERT_EQ(load.Status(), TSliceLoad::State::Done);
        EXPECT_EQ(Stored(m), Whole(raw));
    }
    {
        TCustomCodeMemo m;
        auto* stream = new FaultyStream(raw);
        TSliceLoad load(m, std::unique_ptr<TStream>(stream), raw.size() + 5000, "shrink.log");
        while (load.Step(100000)) {
        }
        ASSERT_EQ(load.Status(), TSliceLoad::State::Failed);
        EXPECT_EQ(load.Error(), "File shrink.log became shorter while it was read (2.5 MB of 2.5 "
                                "MB), so it is not opened. Open it again once it is written.");
        EXPECT_FALSE(m.LoadingPieces());
        EXPECT_FALSE(m.Updating());
    }
}

TEST(SliceLoadTest, AReadErrorStopsTheLoadWithItsCause) {
    const std::string raw = Lines(3'000'000, 3);
    for (std::size_t failAt : {std::size_t(0), std::size_t(1'500'000), raw.size() - 1}) {
        TCustomCodeMemo m;
        auto* stream = new FaultyStream(raw);
        stream->failAt_ = failAt;
        TSliceLoad load(m, std::unique_ptr<TStream>(stream), raw.size(), "disk.log");
        int steps = 0;
        while (load.Step(700000))
            ASSERT_LT(++steps, 100);
        ASSERT_EQ(load.Status(), TSliceLoad::State::Failed);
        EXPECT_EQ(load.BytesRead(), failAt);
        EXPECT_NE(load.Error().find("Reading disk.log failed after "), std::string::npos);
        EXPECT_NE(load.Error().find("Input/output error"), std::string::npos);
        EXPECT_FALSE(m.LoadingPieces());
        EXPECT_FALSE(m.Updating());
        EXPECT_FALSE(load.Step(1)); // nothing more is read
    }
}

TEST(SliceLoadTest, CancelAtRandomPointsLeavesAControlThatLoadsAgain) {
    const std::string raw = Lines(1'200'000, 4);
    const std::string expected = Whole(raw);
    std::mt19937 rng(20240601);
    for (int round = 0; round < 200; ++round) {
        TCustomCodeMemo m;
        {
            TSliceLoad load(m, std::make_unique<FaultyStream>(raw), raw.size(), "c.txt");
            const int cancelAfter = int(rng() % 12);
            for (int step = 0; step < cancelAfter && load.Step(1 + rng() % 300000); ++step) {
            }
            // Otherwise dropped while reading, as a document closed mid-load drops it.
            if (rng() % 2 && load.Status() == TSliceLoad::State::Reading) {
                load.Cancel();
                EXPECT_EQ(load.Status(), TSliceLoad::State::Cancelled);
                EXPECT_FALSE(load.Step(100)); // a cancelled load reads no more
            }
        }
        ASSERT_FALSE(m.LoadingPieces()) << "round " << round;
        ASSERT_FALSE(m.Updating()) << "round " << round;
        ASSERT_NO_FATAL_FAILURE(CheckChain(m));
        if (round % 20 == 0) {
            // The same control takes a whole load afterwards.
            TSliceLoad again(m, std::make_unique<FaultyStream>(raw), raw.size(), "c.txt");
            while (again.Step(1 << 20)) {
            }
            ASSERT_EQ(Stored(m), expected);
        }
    }
}

TEST(SliceLoadTest, SizesReadWell) {
    EXPECT_EQ(SizeText(0), "0 bytes");
    EXPECT_EQ(SizeText(1), "1 byte");
    EXPECT_EQ(SizeText(999), "999 bytes");
    EXPECT_EQ(SizeText(1000), "1.0 KB");
    EXPECT_EQ(SizeText(37'400'000), "37.4 MB");
    EXPECT_EQ(SizeText(999'990'000), "1.0 GB");
    EXPECT_EQ(SizeText(30'200'000'000ull), "30.2 GB");
}

class SliceLoadFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/morvane-slice-XXXXXX";
        dir_ = ::mkdtemp(tmpl);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    void Write(const std::string& name, const std::string& data) const {
        std::ofstream(Path(name), std::ios::binary) << data;
    }
    std::string dir_;
};

TEST_F(SliceLoadFileTest, AFileBiggerThanTheAvailableMemoryIsRefusedBeforeReading) {
    Write("big.log", std::string(5000, 'x'));
    TCustomCodeMemo m;
    Load(m, "kept");
    std::string error;
    {
        MemoryStandIn memory("4999");
        EXPECT_EQ(TSliceLoad::Open(m, Path("big.log"), error), nullptr);
        EXPECT_EQ(error, "File big.log is 5.0 KB; only 5.0 KB of memory is available, so it "
                         "cannot be opened.");
        EXPECT_EQ(TooBigForMemory("x", 30'200'000'000ull),
                  "File x is 30.2 GB; only 5.0 KB of memory is available, so it cannot be opened.");
    }
    EXPECT_EQ(Stored(m), "kept"); // nothing was touched
    {
        MemoryStandIn memory("5000");
        error.clear();
        auto load = TSliceLoad::Open(m, Path("big.log"), error);
        ASSERT_NE(load, nullptr) << error;
        EXPECT_FALSE(load->Step(1 << 20));
        EXPECT_EQ(load->Status(), TSliceLoad::State::Done);
        EXPECT_EQ(m.TextLength(), 5000);
    }
    // The real figure: this machine has some memory, and a tiny file fits.
    auto real = AvailableMemory();
    ASSERT_TRUE(real.has_value());
    EXPECT_GT(*real, 0u);
    EXPECT_EQ(TooBigForMemory("small", 10), "");
}

std::size_t OpenDescriptors() {
    return std::size_t(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                     std::filesystem::directory_iterator()));
}

TEST_F(SliceLoadFileTest, PipesFoldersAndMissingFilesAreRefusedWithoutWaiting) {
    const std::size_t descriptors = OpenDescriptors();
    const std::string fifo = Path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    TCustomCodeMemo m;
    for (const std::string& name : {fifo, dir_, std::string("/dev/zero")}) {
        std::string error;
        EXPECT_EQ(TSliceLoad::Open(m, name, error), nullptr) << name;
        EXPECT_EQ(error, "File '" + name +
                             "' is not a regular file (a folder, a pipe or a device), so it "
                             "cannot be opened.");
    }
    std::string error;
    EXPECT_EQ(TSliceLoad::Open(m, Path("none"), error), nullptr);
    EXPECT_EQ(error, "File '" + Path("none") +
                         "' cannot be opened for reading: No such file or directory");
    // Refused, cancelled, failed or done: the file is closed.
    Write("a.txt", std::string(300000, 'a'));
    for (int way = 0; way < 3; ++way) {
        auto load = TSliceLoad::Open(m, Path("a.txt"), error);
        ASSERT_NE(load, nullptr);
        load->Step(1000);
        if (way == 0) load->Cancel();
        if (way == 1) std::filesystem::resize_file(Path("a.txt"), 2000);
        while (load->Step(1 << 20)) {
        }
        EXPECT_EQ(OpenDescriptors(), descriptors) << way;
    }
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

// System files say they are empty and are read to their end, within the memory there is.
TEST_F(SliceLoadFileTest, AFileWithoutASizeIsReadToItsEndWithinTheMemory) {
    TCustomCodeMemo m;
    std::string error;
    auto load = TSliceLoad::Open(m, "/proc/self/status", error);
    ASSERT_NE(load, nullptr) << error;
    EXPECT_EQ(load->Size(), 0u);
    while (load->Step(100)) {
    }
    ASSERT_EQ(load->Status(), TSliceLoad::State::Done);
    EXPECT_NE(Stored(m).find("VmRSS"), std::string::npos);
    MemoryStandIn memory("300");
    load = TSliceLoad::Open(m, "/proc/self/status", error);
    ASSERT_NE(load, nullptr) << error;
    while (load->Step(100)) {
    }
    ASSERT_EQ(load->Status(), TSliceLoad::State::Failed);
    EXPECT_EQ(load->Error(), "File status is larger than the 300 bytes of memory available, so it "
                             "cannot be opened.");
}

TEST_F(SliceLoadFileTest, TheOpenedFileIsReadEvenWhenAnotherTakesItsName) {
    Write("a.txt", "the first file\n");
    TCustomCodeMemo m;
    std::string error;
    auto load = TSliceLoad::Open(m, Path("a.txt"), error);
    ASSERT_NE(load, nullptr);
    const platform::FileIdentity first = platform::fileIdentity(Path("a.txt"));
    EXPECT_EQ(load->Identity(), first);
    Write("b.txt", "another file, longer than the first one\n");
    std::filesystem::rename(Path("b.txt"), Path("a.txt"));
    // The document knows it read the first: the other one is a change on disk.
    EXPECT_NE(load->Identity(), platform::fileIdentity(Path("a.txt")));
    while (load->Step(4)) {
    }
    ASSERT_EQ(load->Status(), TSliceLoad::State::Done);
    EXPECT_EQ(Stored(m), Whole("the first file\n"));
}

} // namespace
} // namespace morvane::editor
