#include "EditorTestUtil.h"

#include "core/editor/LineBreaks.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane::editor {
namespace {
using namespace test;

// A reading stream that hands out its bytes in pieces of random size.
class TrickleStream final : public TStream {
public:
    TrickleStream(std::string data, unsigned seed) : data_(std::move(data)), rng_(seed) {}
    std::size_t Read(void* buffer, std::size_t count) override {
        std::size_t n = std::min({count, data_.size() - pos_,
                                  std::uniform_int_distribution<std::size_t>(1, 9000)(rng_)});
        std::memcpy(buffer, data_.data() + pos_, n);
        pos_ += n;
        return n;
    }
    std::size_t Write(const void*, std::size_t) override { return 0; }
    std::int64_t Seek(std::int64_t, TSeekOrigin) override {
        return static_cast<std::int64_t>(pos_);
    }

private:
    std::string data_;
    std::size_t pos_ = 0;
    std::mt19937 rng_;
};

// Straightforward statement of the line-end rule, byte by byte.
std::string ExpectedRoundTrip(const std::string& raw, TSaveFormat* format) {
    std::string stored;
    const char* style = nullptr;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        char next = i + 1 < raw.size() ? raw[i + 1] : 0;
        if (c == '\r') {
            if (!style) style = next == '\n' ? "\r\n" : "\r";
            if (next == '\n') ++i;
            stored += '\r';
        } else if (c == '\n') {
            if (!style) style = "\n";
            if (next == '\r') ++i;
            stored += '\r';
        } else {
            stored += c;
        }
    }
    if (!style) style = "\n";
    *format = std::string(style) == "\r\n" ? sfTEXT : std::string(style) == "\r" ? sfMAC : sfUNIX;
    std::string out;
    for (char c : stored)
        if (c == '\r')
            out += style;
        else
            out += c;
    return out;
}

std::string RandomDocument(std::mt19937& rng) {
    static const char* breaks[] = {"\r\n", "\n", "\r", "\n\r"};
    std::uniform_int_distribution<int> pick(0, 99), byte(0, 255);
    std::string s;
    std::size_t target = std::vector<std::size_t>{0, 1, 8191, 8192, 8193, 20000, 70000}[rng() % 7];
    if (target == 20000) target = rng() % 40000;
    while (s.size() < target) {
        int k = pick(rng);
        if (k < 10) {
            s += breaks[rng() % 4];
        } else if (k < 13) {
            s.append(2047 + rng() % 3000, static_cast<char>('a' + rng() % 26)); // long line
        } else if (k < 15) {
            s.resize(((s.size() / 8192) + 1) * 8192 - 1, 'x'); // a break across a block edge
            s += breaks[rng() % 4];
        } else {
            s += static_cast<char>(byte(rng));
        }
    }
    return s;
}

TEST(LoadSaveTest, RandomBytesComeBackUnderTheLineEndRule) {
    std::mt19937 rng(20240601);
    for (int round = 0; round < 120; ++round) {
        std::string raw = RandomDocument(rng);
        TSaveFormat format;
        std::string expected = ExpectedRoundTrip(raw, &format);
        TCustomCodeMemo m;
        TrickleStream in(raw, static_cast<unsigned>(round));
        m.LoadFromStream(in);
        ASSERT_NO_FATAL_FAILURE(CheckChain(m));
        for (RecIndex i = 0; i < m.LineCount(); ++i)
            ASSERT_LE(m.Store().Text(i).size(), 2047u);
        ASSERT_EQ(m.SaveFormat(), format) << "round " << round;
        TMemoryStream out;
        m.SaveToStream(&out);
        ASSERT_EQ(out.Data(), expected) << "round " << round;
    }
}

TEST(LoadSaveTest, TextLoadedInPiecesIsTheTextLoadedWhole) {
    std::mt19937 rng(7);
    std::vector<std::string> docs;
    for (int round = 0; round < 40; ++round)
        docs.push_back(RandomDocument(rng));
    std::string utf8;
    while (utf8.size() < 150000)
        utf8 += "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\r\n"; // pieces cut inside characters
    docs.push_back(utf8);
    docs.push_back(std::string(70000, 'a') + "\r");
    for (const std::string& raw : docs) {
        TCustomCodeMemo whole, pieces;
        TMemoryStream in(raw);
        whole.LoadFromStream(in);
        Load(pieces, "old text\nthat goes");
        pieces.BeginLoad();
        EXPECT_TRUE(pieces.LoadingPieces());
        for (std::size_t at = 0; at < raw.size();) {
            const std::size_t n = std::min<std::size_t>(
                raw.size() - at, rng() % 4 == 0 ? 70000 + rng() % 9000 : 1 + rng() % 5000);
            pieces.LoadPiece(std::string_view(raw).substr(at, n));
            at += n;
        }
        pieces.EndLoad();
        EXPECT_FALSE(pieces.LoadingPieces());
        EXPECT_FALSE(pieces.Loading());
        EXPECT_FALSE(pieces.Updating());
        ASSERT_NO_FATAL_FAILURE(CheckChain(pieces));
        ASSERT_EQ(Stored(pieces), Stored(whole)) << raw.size() << " bytes";
        EXPECT_EQ(pieces.SaveFormat(), whole.SaveFormat());
        EXPECT_EQ(pieces.LineEnd(), whole.LineEnd());
        EXPECT_EQ(pieces.Encoding(), whole.Encoding());
        EXPECT_FALSE(pieces.CanUndo());
    }
    // Given up halfway, the control is no longer loading and keeps what arrived.
    TCustomCodeMemo m;
    m.BeginLoad();
    m.LoadPiece(std::string(100000, 'x'));
    m.AbandonLoad();
    EXPECT_FALSE(m.LoadingPieces());
    EXPECT_FALSE(m.Loading());
    EXPECT_FALSE(m.Updating());
    EXPECT_GT(m.TextLength(), 0);
}

TEST(LoadSaveTest, RangesOfTheTextInEveryLineEndForm) {
    std::mt19937 rng(31);
    for (int round = 0; round < 30; ++round) {
        TCustomCodeMemo m;
        Load(m, RandomDocument(rng));
        // Edits leave the text spread over blocks of every size.
        for (int e = 0; e < 20 && m.TextLength() > 0; ++e) {
            const TextOffset at = TextOffset(rng() % std::size_t(m.TextLength() + 1));
            m.SetSelection(at, std::min<TextOffset>(m.TextLength(), at + TextOffset(rng() % 50)));
            m.ReplaceSel(rng() % 2 ? "x\ny" : "");
        }
        std::string records;
        for (const std::string& r : Records(m))
            records += r;
        ASSERT_EQ(Stored(m), records);
        for (int k = 0; k < 20; ++k) {
            const auto len = std::size_t(m.TextLength());
            std::size_t a = rng() % (len + 1), b = rng() % (len + 1);
            if (a > b) std::swap(a, b);
            const std::string part = records.substr(a, b - a);
            std::string lf, crlf;
            for (char c : part) {
                lf += c == '\r' ? '\n' : c;
                crlf += c == '\r' ? std::string("\r\n") : std::string(1, c);
            }
            ASSERT_EQ(m.RangeText(TextOffset(a), TextOffset(b), tfStored), part);
            ASSERT_EQ(m.RangeText(TextOffset(a), TextOffset(b), tfLF), lf);
            ASSERT_EQ(m.RangeText(TextOffset(a), TextOffset(b), tfCRLF), crlf);
        }
    }
}

// The whole text of a big document (what a save sends) comes out exact in every form, edits
// included: its buffer is sized and advised differently from a small range's.
TEST(LoadSaveTest, TheWholeTextOfABigDocumentInEveryLineEndForm) {
    std::string doc;
    for (int i = 0; doc.size() < (6u << 20); ++i)
        doc += "line " + std::to_string(i) + std::string(std::size_t(i % 90), 'x') + "\r\n";
    TCustomCodeMemo m;
    Load(m, doc);
    m.SetSelection(3, 3);
    m.ReplaceSel("x\ny");
    doc.insert(3, "x\r\ny");
    std::string lf;
    lf.reserve(doc.size());
    for (char c : doc)
        if (c != '\r') lf += c;
    EXPECT_TRUE(m.Text(tfCRLF) == doc);
    EXPECT_TRUE(m.Text(tfLF) == lf);
    EXPECT_EQ(m.RangeText(0, 12, tfCRLF), doc.substr(0, 14));
}

TEST(LoadSaveTest, LineBreakFormsAndControlCharacters) {
    TCustomCodeMemo m;
    Load(m, "a\r\nb");
    EXPECT_EQ(Records(m), (std::vector<std::string>{"a\r", "b"}));
    m.SetSaveFormat(sfTEXT);
    TMemoryStream crlf;
    m.SaveToStream(&crlf);
    EXPECT_EQ(crlf.Data(), "a\r\nb");
    m.SetSaveFormat(sfUNIX);
    TMemoryStream lf;
    m.SaveToStream(&lf);
    EXPECT_EQ(lf.Data(), "a\nb");

    Load(m, "x\n\ry\n\r");
    EXPECT_EQ(Records(m), (std::vector<std::string>{"x\r", "y\r"}));
    EXPECT_EQ(m.Lines().Count(), 2);

    // Control characters and NUL are text: kept and counted.
    Load(m, std::string("f\fg\0h\x1b", 6));
    EXPECT_EQ(Stored(m), std::string("f\fg\0h\x1b", 6));
    EXPECT_EQ(m.TextLength(), 6);
}

TEST(LoadSaveTest, CrAtTheEndOfAnEightKilobyteBlockPairsWithTheLfAfterIt) {
    std::string raw(8191, 'a');
    raw += "\r\nb";
    TCustomCodeMemo m;
    Load(m, raw);
    EXPECT_EQ(Stored(m), std::string(8191, 'a') + "\r" + "b");
    EXPECT_EQ(m.SaveFormat(), sfTEXT);
}

TEST(LoadSaveTest, EmptyTextAndTextEndingWithABreak) {
    TCustomCodeMemo m;
    EXPECT_EQ(m.Lines().Count(), 0);
    EXPECT_EQ(m.TextLength(), 0);
    Load(m, "a\nb\n");
    EXPECT_EQ(m.LineCount(), 2);
    EXPECT_EQ(m.Lines().Count(), 2);
    Load(m, "");
    EXPECT_EQ(m.LineCount(), 0);
    EXPECT_EQ(m.SaveFormat(), sfUNIX); // no break: the new-file default
}

TEST(LoadSaveTest, LongLineIsHeldInContinuationRecords) {
    TCustomCodeMemo m;
    Load(m, std::string(5000, 'q'));
    ASSERT_EQ(m.LineCount(), 3);
    EXPECT_EQ(m.Store().Text(0).size(), 2047u);
    EXPECT_EQ(m.Store().Text(1).size(), 2047u);
    EXPECT_EQ(m.Store().Text(2).size(), 906u);
    EXPECT_EQ(m.Lines().Count(), 3);
    EXPECT_EQ(m.Store().Rec(0).mark & kContinuation, 0);
    EXPECT_NE(m.Store().Rec(1).mark & kContinuation, 0);
    EXPECT_NE(m.Store().Rec(2).mark & kContinuation, 0);
}

TEST(LoadSaveTest, LoadingEmptiesTheUndoStackAndResetsTheSelection) {
    TCustomCodeMemo m;
    m.ReplaceSel("abc");
    EXPECT_TRUE(m.Modified());
    Load(m, "x\ny");
    EXPECT_FALSE(m.Modified());
    EXPECT_EQ(m.SelStart(), 0);
    EXPECT_EQ(m.SelLength(), 0);
}

// Accepts only part of what is written for its first few writes.
class ShortStream final : public TMemoryStream {
public:
    std::size_t Write(const void* buffer, std::size_t count) override {
        ++writes;
        if (failures > 0) {
            --failures;
            return TMemoryStream::Write(buffer, count / 2);
        }
        return TMemoryStream::Write(buffer, count);
    }
    int writes = 0;
    int failures = 0;
};

TEST(LoadSaveTest, ShortWritesAreRetriedFromTheStartThenFail) {
    TCustomCodeMemo m;
    Load(m, "one\ntwo\n");
    ShortStream twice;
    twice.WriteString("head:");
    twice.failures = 2;
    m.SaveToStream(&twice);
    EXPECT_EQ(twice.Data(), "head:one\ntwo\n"); // no partial copy left in front

    ShortStream always;
    always.failures = 1000;
    try {
        m.SaveToStream(&always);
        FAIL() << "no error";
    } catch (const EFileSaveError& e) {
        EXPECT_STREQ(e.what(), "Could not save text to stream");
    }
    EXPECT_EQ(always.writes, 4);
    m.ReplaceSel("x");
    EXPECT_THROW(m.SaveToStream(&always), EFileSaveError);
    EXPECT_TRUE(m.Modified()); // a failed save leaves the document modified
    try {
        m.SaveToStream(nullptr);
        FAIL() << "no error";
    } catch (const EFileSaveError& e) {
        EXPECT_STREQ(e.what(), "Bad TStream instance");
    }
}

// Hands out one block of text, then runs out of memory.
class FailingStream final : public TStream {
public:
    std::size_t Read(void* buffer, std::size_t count) override {
        if (reads++ > 0) throw std::bad_alloc();
        std::memset(buffer, 'a', count);
        static_cast<char*>(buffer)[count - 1] = '\n';
        return count;
    }
    std::size_t Write(const void*, std::size_t) override { return 0; }
    std::int64_t Seek(std::int64_t, TSeekOrigin) override { return 0; }
    int reads = 0;
};

TEST(LoadSaveTest, OutOfMemoryWhileLoadingKeepsWhatWasLoaded) {
    TCustomCodeMemo m;
    FailingStream in;
    try {
        m.LoadFromStream(in);
        FAIL() << "no error";
    } catch (const ECodeMemo& e) {
        EXPECT_STREQ(e.what(), "Not enough memory for operation");
    }
    EXPECT_GT(m.TextLength(), 0);
    EXPECT_FALSE(m.Loading());
    EXPECT_FALSE(m.Updating());
}

// A pipe: cannot seek, and takes only half of each write.
class HalfPipe final : public TMemoryStream {
public:
    std::size_t Write(const void* buffer, std::size_t count) override {
        return TMemoryStream::Write(buffer, count / 2);
    }
    std::int64_t Seek(std::int64_t, TSeekOrigin) override { return -1; }
};

TEST(LoadSaveTest, AStreamThatCannotSeekIsNotWrittenTwice) {
    TCustomCodeMemo m;
    Load(m, "abcdef");
    HalfPipe pipe;
    EXPECT_THROW(m.SaveToStream(&pipe), EFileSaveError);
    EXPECT_EQ(pipe.Data(), "abc");
}

TEST(LoadSaveTest, FormattedSaveWithoutHighlighterIsPlainBlackOnWhite) {
    TCustomCodeMemo m;
    Load(m, "x");
    m.SetSaveFormat(sfRTF);
    TMemoryStream out;
    m.SaveToStream(&out);
    EXPECT_NE(out.Data().find("{\\colortbl\\red0\\green0\\blue0;\\red255\\green255\\blue255;}"),
              std::string::npos);
    EXPECT_NE(out.Data().find("\\cb1 x\r\n}}"), std::string::npos);
}

TEST(LoadSaveTest, ReadOnlyStreamsRefuseWrites) {
    TCustomCodeMemo m;
    Load(m, "abc");
    TFastMemoryStream fast("abc");
    try {
        fast.Write("x", 1);
        FAIL() << "no error";
    } catch (const EStreamError& e) {
        EXPECT_STREQ(e.what(), "Cannot write to a read-only stream");
    }
    EXPECT_THROW(m.EdStream().Write("x", 1), EStreamError);
}

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/morvane-ed-XXXXXX";
        dir_ = ::mkdtemp(tmpl);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    static std::string Read(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    static void Write(const std::string& path, const std::string& data) {
        std::ofstream(path, std::ios::binary) << data;
    }
    static unsigned Mode(const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }
    std::string dir_;
};

TEST_F(FileTest, OnlyRegularFilesAreOpened) {
    TCustomCodeMemo m;
    std::string fifo = Path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (std::string name : {Path("none.txt"), dir_, fifo, std::string("/dev/zero")}) {
        try {
            m.LoadFromFile(name);
            FAIL() << name;
        } catch (const EFOpenError& e) {
            EXPECT_EQ(std::string(e.what()), "File '" + name + "' cannot be opened for reading");
        }
    }
}

TEST_F(FileTest, SavingKeepsLineEndsPermissionsAndSymlinks) {
    std::string target = Path("real.txt"), link = Path("link.txt");
    Write(target, "a\r\nb\r\n");
    ::chmod(target.c_str(), 0640);
    std::filesystem::create_symlink("real.txt", link);
    TCustomCodeMemo m;
    m.LoadFromFile(link);
    EXPECT_EQ(m.FileName(), link);
    m.SetSelection(1, 1);
    m.ReplaceSel("z");
    m.SaveToFile(link);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Read(target), "az\r\nb\r\n");
    EXPECT_EQ(Mode(target), 0640u);
    EXPECT_FALSE(m.Modified());
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 2);
}

TEST_F(FileTest, UnixFileStaysUnixAndVanishedFileIsWrittenAgain) {
    std::string path = Path("u.txt");
    Write(path, "x\ny\n");
    TCustomCodeMemo m;
    m.LoadFromFile(path);
    std::filesystem::remove(path);
    m.SaveToFile(path);
    EXPECT_EQ(Read(path), "x\ny\n");
}

TEST_F(FileTest, ReadOnlyTargetOrDirectoryIsRefusedAndLeftAlone) {
    std::string path = Path("ro.txt");
    Write(path, "keep\n");
    ::chmod(path.c_str(), 0444);
    TCustomCodeMemo m;
    Load(m, "new\n");
    m.ReplaceSel("edited ");
    EXPECT_THROW(m.SaveToFile(path), EFileSaveError);
    EXPECT_EQ(Read(path), "keep\n");
    EXPECT_TRUE(m.Modified());
    EXPECT_THROW(m.SaveToFile(dir_), EFileSaveError);
    std::string fifo = Path("pipe");
    ::mkfifo(fifo.c_str(), 0600);
    EXPECT_THROW(m.SaveToFile(fifo), EFileSaveError);
    EXPECT_THROW(m.SaveToFile(Path("no/such/dir.txt")), EFileSaveError);
}

TEST_F(FileTest, NamesWithBytesOutsideAsciiWork) {
    std::string path = Path("caf\xe9 \xc3\xa9t\xe9.txt"); // Latin-1 and UTF-8 mixed
    Write(path, "x\r\n");
    TCustomCodeMemo m;
    m.LoadFromFile(path);
    m.SetSelection(1, 1);
    m.ReplaceSel("y");
    m.SaveToFile(path);
    EXPECT_EQ(Read(path), "xy\r\n");
}

TEST_F(FileTest, BytesOfABinaryFileSurvive) {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        if (i != '\r' && i != '\n') bytes += static_cast<char>(i);
    std::string path = Path("bin");
    Write(path, bytes + "\n" + bytes);
    TCustomCodeMemo m;
    m.LoadFromFile(path);
    m.SaveToFile(path);
    EXPECT_EQ(Read(path), bytes + "\n" + bytes);
}

} // namespace
} // namespace morvane::editor
