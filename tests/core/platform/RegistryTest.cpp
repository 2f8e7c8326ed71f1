#include "core/platform/Registry.h"
#include "core/platform/RegFile.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace morvane::platform;
using morvane::testing::readFile;
using morvane::testing::TempDir;
using morvane::testing::writeFile;
using ::testing::ElementsAre;

namespace {

const Hive HKCU = Hive::CurrentUser;
const char* kSettings = "Software\\Orvandel\\Morvane\\2.1\\Settings";

TEST(RegistrySemantics, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
    TempDir dir;
    Registry reg(dir.path());
    ASSERT_TRUE(reg.writeValue(HKCU, kSettings, "One Instance Only", RegValue::string("False")));
    ASSERT_TRUE(reg.writeValue(HKCU, "software\\orvandel\\MORVANE\\2.1\\settings",
                               "one instance only", RegValue::string("True")));
    EXPECT_THAT(reg.valueNames(HKCU, kSettings), ElementsAre("One Instance Only"));
    EXPECT_EQ(reg.readValue(HKCU, kSettings, "ONE INSTANCE ONLY")->data, "True");
    EXPECT_THAT(reg.subKeyNames(HKCU, "Software\\Orvandel"), ElementsAre("Morvane"));
}

TEST(RegistrySemantics, EnumerationKeepsInsertionOrderAcrossReload) {
    TempDir dir;
    {
        Registry reg(dir.path());
        for (const char* name : {"zeta", "alpha", "Mid", "beta"})
            ASSERT_TRUE(reg.createKey(HKCU, std::string("Accounts\\") + name));
        reg.writeValue(HKCU, "Accounts\\zeta", "b", RegValue::dword(2));
        reg.writeValue(HKCU, "Accounts\\zeta", "a", RegValue::dword(1));
    }
    Registry again(dir.path());
    EXPECT_THAT(again.subKeyNames(HKCU, "Accounts"), ElementsAre("zeta", "alpha", "Mid", "beta"));
    EXPECT_THAT(again.valueNames(HKCU, "Accounts\\zeta"), ElementsAre("b", "a"));
}

TEST(RegistrySemantics, TypedValuesSurviveTheFileByteForByte) {
    TempDir dir;
    std::string allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes.push_back(static_cast<char>(i));
    std::string awkward = "line1\r\nline2 \"quoted\" back\\slash \xff\xfe stray \x01";
    {
        Registry reg(dir.path());
        reg.writeValue(HKCU, "K", "", RegValue::string("default"));
        reg.writeValue(HKCU, "K", "bin", RegValue::binary(allBytes));
        reg.writeValue(HKCU, "K", "awkward", RegValue::string(awkward));
        reg.writeValue(HKCU, "K", "utf8", RegValue::string("Grüße €"));
        reg.writeValue(HKCU, "K", "nul", RegValue::string(std::string("a\0b", 3)));
        reg.writeValue(HKCU, "K", "count", RegValue::dword(0xFFFFFFFFu));
        reg.writeValue(HKCU, "K", "expand", RegValue{regExpandSz, "%HOME%\\x"});
    }
    Registry reg(dir.path());
    EXPECT_EQ(reg.readValue(HKCU, "K", "")->data, "default");
    EXPECT_EQ(reg.readValue(HKCU, "K", "bin")->data, allBytes);
    EXPECT_EQ(reg.readValue(HKCU, "K", "bin")->type, regBinary);
    EXPECT_EQ(reg.readValue(HKCU, "K", "awkward")->data, awkward);
    EXPECT_EQ(reg.readValue(HKCU, "K", "utf8")->data, "Grüße €");
    EXPECT_EQ(reg.readValue(HKCU, "K", "nul")->data, std::string("a\0b", 3));
    EXPECT_EQ(reg.readValue(HKCU, "K", "count")->asDword(), 0xFFFFFFFFu);
    EXPECT_EQ(reg.readValue(HKCU, "K", "expand")->type, regExpandSz);
    EXPECT_EQ(reg.valueSize(HKCU, "K", "default"), std::nullopt);
    EXPECT_EQ(reg.valueSize(HKCU, "K", ""), 8u); // with its NUL
    EXPECT_EQ(reg.valueSize(HKCU, "K", "count"), 4u);
    // Plain strings stay readable in the file.
    EXPECT_NE(readFile(dir / "user.reg").find("@=\"default\""), std::string::npos);
}

TEST(RegistrySemantics, DeleteKeyRemovesTheWholeTree) {
    TempDir dir;
    Registry reg(dir.path());
    reg.writeValue(HKCU, "A\\B\\C", "v", RegValue::string("x"));
    reg.createKey(HKCU, "A\\D");
    EXPECT_TRUE(reg.deleteKey(HKCU, "A\\B"));
    EXPECT_FALSE(reg.keyExists(HKCU, "A\\B\\C"));
    EXPECT_THAT(reg.subKeyNames(HKCU, "A"), ElementsAre("D"));
    EXPECT_FALSE(reg.deleteKey(HKCU, "A\\B"));
    EXPECT_TRUE(reg.deleteValue(HKCU, "A\\D", "missing") == false);
}

TEST(RegistrySemantics, MoveKeyCopiesThenDeletesAndNeverOverwrites) {
    TempDir dir;
    Registry reg(dir.path());
    reg.writeValue(HKCU, "Old\\Settings", "x", RegValue::string("1"));
    reg.writeValue(HKCU, "Old\\Accounts\\site", "Host", RegValue::string("h"));
    EXPECT_TRUE(reg.moveKey(HKCU, "Old", HKCU, "New\\Place"));
    EXPECT_FALSE(reg.keyExists(HKCU, "Old"));
    EXPECT_EQ(reg.readValue(HKCU, "New\\Place\\Accounts\\site", "Host")->data, "h");

    reg.writeValue(HKCU, "Other", "y", RegValue::string("2"));
    EXPECT_FALSE(reg.moveKey(HKCU, "Other", HKCU, "New\\Place"));
    EXPECT_TRUE(reg.keyExists(HKCU, "Other"));
    EXPECT_FALSE(reg.readValue(HKCU, "New\\Place", "y"));
}

TEST(RegistrySemantics, RegKeyReadsAbsentOrWronglyTypedValuesAsEmptyText) {
    TempDir dir;
    Registry reg(dir.path());
    RegKey key(reg, HKCU, kSettings);
    EXPECT_EQ(key.readString("Left"), "");
    key.writeDword("Left", 5);
    EXPECT_EQ(key.readString("Left"), "");
    EXPECT_EQ(key.readDword("Left"), 5u);
    key.writeString("Top", "7");
    EXPECT_EQ(key.readDword("Top"), std::nullopt);
}

TEST(RegistrySemantics, NamesWithLineBreaksAreRefused) {
    TempDir dir;
    Registry reg(dir.path());
    EXPECT_FALSE(reg.writeValue(HKCU, "K", "a\nb", RegValue::string("x")));
    EXPECT_FALSE(reg.createKey(HKCU, "K\\a\rb"));
    EXPECT_TRUE(reg.writeValue(HKCU, "K", "fine", RegValue::string("x")));
}

TEST(RegistryFiles, HiveFilesAreReadableOnlyByTheUser) {
    TempDir dir;
    Registry reg(dir.path());
    reg.writeValue(HKCU, "K", "Password", RegValue::string("secret"));
    reg.createKey(Hive::LocalMachine, "Software\\Orvandel\\Morvane\\2.1");
    for (const char* f : {"user.reg", "machine.reg"}) {
        struct stat st;
        ASSERT_EQ(::stat((dir / f).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    }
    EXPECT_NE(readFile(dir / "machine.reg")
                  .find("[HKEY_LOCAL_MACHINE\\Software\\Orvandel\\Morvane\\2.1]"),
              std::string::npos);
}

TEST(RegistryFiles, ChangesOfAnotherInstanceAreSeenOnTheNextRead) {
    TempDir dir;
    Registry a(dir.path()), b(dir.path());
    a.writeValue(HKCU, "K", "x", RegValue::string("1"));
    EXPECT_EQ(b.readValue(HKCU, "K", "x")->data, "1");
    b.writeValue(HKCU, "K", "y", RegValue::string("2"));
    a.writeValue(HKCU, "K", "z", RegValue::string("3")); // must not drop b's y
    Registry c(dir.path());
    EXPECT_THAT(c.valueNames(HKCU, "K"), ElementsAre("x", "y", "z"));
}

TEST(RegistryConcurrency, TwoProcessesWritingAtOnceLoseNothing) {
    TempDir dir;
    constexpr int perProcess = 150;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            Registry reg(dir.path());
            bool ok = true;
            for (int i = 0; i < perProcess; ++i)
                ok &= reg.writeValue(HKCU, "K", "p" + std::to_string(c) + "-" + std::to_string(i),
                                     RegValue::dword(static_cast<std::uint32_t>(i)));
            ::_exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    Registry reg(dir.path());
    EXPECT_EQ(reg.valueNames(HKCU, "K").size(), 2u * perProcess);
    EXPECT_EQ(reg.readValue(HKCU, "K", "p1-149")->asDword(), 149u);
}

TEST(RegistryConcurrency, AWriterKilledMidwayLeavesTheLastGoodFile) {
    TempDir dir;
    {
        Registry reg(dir.path());
        reg.writeValue(HKCU, "K", "kept", RegValue::string("old"));
    }
    std::string before = readFile(dir / "user.reg");
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Registry reg(dir.path());
        Registry::testHookMidWrite = [] { ::raise(SIGKILL); };
        reg.writeValue(HKCU, "K", "new", RegValue::string(std::string(100000, 'x')));
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(readFile(dir / "user.reg"), before);
    Registry reg(dir.path());
    EXPECT_EQ(reg.readValue(HKCU, "K", "kept")->data, "old");
    EXPECT_FALSE(reg.valueExists(HKCU, "K", "new"));
    EXPECT_TRUE(reg.takeProblems().empty());
    // The next write still works although the killed writer left its temporary file.
    EXPECT_TRUE(reg.writeValue(HKCU, "K", "after", RegValue::string("ok")));
}

struct DamagedCase {
    const char* name;
    std::string contents;
};

void PrintTo(const DamagedCase& c, std::ostream* os) {
    *os << c.name;
}

class RegistryDamagedFile : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(RegistryDamagedFile, IsKeptAsideAndReportedNeverOverwritten) {
    TempDir dir;
    writeFile(dir / "user.reg", GetParam().contents);
    Registry reg(dir.path());
    std::vector<std::string> told;
    reg.onProblem = [&](const std::string& m) { told.push_back(m); };
    EXPECT_FALSE(reg.keyExists(HKCU, "Software"));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_THAT(told[0], ::testing::HasSubstr("user.reg"));
    EXPECT_THAT(told[0], ::testing::HasSubstr("was kept as"));
    bool keptAside = false;
    for (auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().filename().string().starts_with("user.reg.damaged-")) {
            keptAside = true;
            EXPECT_EQ(readFile(e.path()), GetParam().contents);
        }
    EXPECT_TRUE(keptAside);
    // The store goes on working with fresh settings.
    EXPECT_TRUE(reg.writeValue(HKCU, "K", "v", RegValue::string("x")));
    EXPECT_EQ(told.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Garbage, RegistryDamagedFile,
    ::testing::Values(
        DamagedCase{"Binary", std::string("\x00\x01\x02garbage\xff\xfe\x00", 12)},
        DamagedCase{"NoHeader", "[HKEY_CURRENT_USER\\Software]\n\"a\"=\"b\"\n"},
        DamagedCase{
            "Truncated",
            "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"unterm"},
        DamagedCase{
            "BadDword",
            "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\K]\n\"Left\"=dword:zz\n"},
        DamagedCase{
            "BadHex",
            "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\K]\n\"b\"=hex:0g,11\n"},
        DamagedCase{
            "WrongRoot",
            "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\K]\n\"a\"=\"b\"\n"},
        DamagedCase{"ValueOutsideKey", "Windows Registry Editor Version 5.00\n\"a\"=\"b\"\n"}),
    [](const auto& info) { return info.param.name; });

TEST(RegistryDamagedFile, AHugeFileIsSetAsideWithoutBeingRead) {
    TempDir dir;
    {
        std::ofstream out(dir / "user.reg");
        out << "Windows Registry Editor Version 5.00\n";
    }
    std::filesystem::resize_file(dir / "user.reg", 100u << 20); // sparse
    Registry reg(dir.path());
    EXPECT_FALSE(reg.keyExists(HKCU, "K"));
    auto problems = reg.takeProblems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_THAT(problems[0], ::testing::HasSubstr("too large"));
}

// Runs body in a child process with an alarm, so that a hang fails the test instead of
// hanging the suite: the result is the child's exit code, 128 + signal when it was killed.
int boundedRun(const std::function<int()>& body, unsigned seconds = 20) {
    return morvane::testing::runInChild([&] {
        ::alarm(seconds);
        return body();
    });
}

TEST(RegistryDamagedFile, AnImportOverADamagedHiveSetsItAsideAndImports) {
    TempDir dir;
    std::filesystem::create_directories(dir / "store");
    writeFile(dir / "store" / "user.reg", "Windows Registry Editor Version 5.00\n\"oops");
    writeFile(dir / "export.reg", "Windows Registry Editor Version 5.00\n\n"
                                  "[HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane\\2.1]\n"
                                  "\"a\"=\"b\"\n");
    int code = boundedRun([&] {
        Registry reg(dir / "store");
        auto r = reg.importFile(dir / "export.reg", {"HKEY_CURRENT_USER\\Software\\Orvandel"});
        if (!r.ok) return 1;
        if (reg.takeProblems().size() != 1) return 2;
        return reg.readValue(HKCU, "Software\\Orvandel\\Morvane\\2.1", "a") ? 0 : 3;
    });
    EXPECT_EQ(code, 0) << (code == 128 + SIGALRM ? "the import hung" : "the import failed");
    int aside = 0;
    for (auto& e : std::filesystem::directory_iterator(dir / "store"))
        aside += e.path().filename().string().starts_with("user.reg.damaged-");
    EXPECT_EQ(aside, 1);
}

// Opening a FIFO for reading waits for a writer; the store must find out what the file is
// without waiting.
TEST(RegistryFiles, AFifoAsHiveOrImportFileIsRefusedWithoutWaiting) {
    TempDir dir;
    std::filesystem::create_directories(dir / "store");
    ASSERT_EQ(::mkfifo((dir / "store" / "user.reg").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "pipe.reg").c_str(), 0600), 0);
    int code = boundedRun([&] {
        Registry reg(dir / "store");
        if (reg.keyExists(HKCU, "Software")) return 1;
        auto problems = reg.takeProblems();
        if (problems.size() != 1 || problems[0].find("not a regular file") == std::string::npos)
            return 2;
        if (!reg.writeValue(HKCU, "K", "v", RegValue::string("x"))) return 3;
        auto r = reg.importFile(dir / "pipe.reg", {"HKEY_CURRENT_USER"});
        if (r.ok || r.error.find("not a regular file") == std::string::npos) return 4;
        return 0;
    });
    EXPECT_EQ(code, 0) << (code == 128 + SIGALRM ? "reading a FIFO hung" : "wrong outcome");
}

// Lookups go through an index: random edits, with names in changing case, must leave the tree
// exactly as a plain list would (order, first spelling, removal from the middle).
TEST(RegFileTree, IndexedLookupsAgreeWithAPlainListUnderRandomEdits) {
    std::mt19937 rng(7);
    RegistryTree tree;
    std::vector<std::pair<std::string, std::string>> model; // name, value
    std::vector<std::string> children;
    auto spell = [&](int n) {
        std::string name = "Name" + std::to_string(n);
        for (auto& c : name)
            if (rng() % 2) c = char(std::toupper(static_cast<unsigned char>(c)));
        return name;
    };
    for (int step = 0; step < 20000; ++step) {
        std::string name = spell(int(rng() % 300));
        auto it = std::find_if(model.begin(), model.end(),
                               [&](auto& p) { return namesEqual(p.first, name); });
        auto ct = std::find_if(children.begin(), children.end(),
                               [&](auto& c) { return namesEqual(c, name); });
        switch (rng() % 6) {
        case 0:
        case 1: {
            std::string v = std::to_string(step);
            tree.setValue(name, RegValue::string(v));
            if (it == model.end())
                model.emplace_back(name, v);
            else
                it->second = v;
            break;
        }
        case 2:
            EXPECT_EQ(tree.removeValue(name), it != model.end());
            if (it != model.end()) model.erase(it);
            break;
        case 3:
            EXPECT_TRUE(namesEqual(tree.childOrCreate(name).name, name));
            if (ct == children.end()) children.push_back(name);
            break;
        case 4:
            EXPECT_EQ(tree.removeChild(name), ct != children.end());
            if (ct != children.end()) children.erase(ct);
            break;
        default: {
            const RegValue* v = tree.value(name);
            ASSERT_EQ(v != nullptr, it != model.end()) << name;
            if (v) {
                EXPECT_EQ(v->data, it->second);
            }
            RegistryTree* c = tree.child(name);
            ASSERT_EQ(c != nullptr, ct != children.end()) << name;
            if (c) {
                EXPECT_EQ(c->name, *ct); // the first spelling
            }
        }
        }
    }
    ASSERT_EQ(tree.values.size(), model.size());
    for (std::size_t i = 0; i < model.size(); ++i)
        EXPECT_EQ(tree.values[i].first, model[i].first);
    ASSERT_EQ(tree.subkeys.size(), children.size());
    for (std::size_t i = 0; i < children.size(); ++i)
        EXPECT_EQ(tree.subkeys[i].name, children[i]);
    // A subkey appended directly (as a whole key is replaced) is found on the next lookup.
    tree.subkeys.push_back(RegistryTree{"Appended", {}, {}, {}, {}});
    EXPECT_NE(tree.child("APPENDED"), nullptr);
}

TEST(RegFileFormat, ParsesContinuedHexAndDeletions) {
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                       "; a comment\r\n"
                       "[HKEY_CURRENT_USER\\A]\r\n"
                       "\"bin\"=hex:01,02,\\\r\n  03,04\r\n"
                       "\"gone\"=-\r\n"
                       "[-HKEY_CURRENT_USER\\B]\r\n";
    auto r = parseRegText(text);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.blocks.size(), 2u);
    EXPECT_EQ(r.blocks[0].values[0].second->data, "\x01\x02\x03\x04");
    EXPECT_FALSE(r.blocks[0].values[1].second.has_value());
    EXPECT_TRUE(r.blocks[1].removeKey);
}

TEST(RegFileFormat, ErrorsNameTheLine) {
    auto r = parseRegText("REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"x\" \"y\"\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "line 4: missing \"=\"");
}

std::string utf16le(const std::string& ascii) {
    std::string out = "\xff\xfe";
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

TEST(RegistryImport, TakesAUtf16ExportOfTheProgramsKeysOnly) {
    TempDir dir;
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane\\2.1\\Weblinks\\0]\r\n"
                       "@=\"HTML on-line help\"\r\n"
                       "\"Kind\"=dword:00000001\r\n"
                       "\"Languages\"=hex(1):48,00,54,00,4d,00,4c,00,0d,00,0a,00,00,00\r\n"
                       "\"Shortcut\"=dword:00000070\r\n\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"x\"=\"y\"\r\n";
    std::string bytes = utf16le(text);
    // A non-ASCII character in the caption: "é" as one UTF-16 unit.
    writeFile(dir / "export.reg", bytes);
    Registry reg(dir / "store");
    auto r = reg.importFile(dir / "export.reg", {"HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.keys, 1);
    EXPECT_EQ(r.values, 4);
    EXPECT_EQ(r.skippedKeys, 1);
    const char* key = "Software\\Orvandel\\Morvane\\2.1\\Weblinks\\0";
    EXPECT_EQ(reg.readValue(HKCU, key, "")->data, "HTML on-line help");
    EXPECT_EQ(reg.readValue(HKCU, key, "Languages")->data, "HTML\r\n");
    EXPECT_EQ(reg.readValue(HKCU, key, "Shortcut")->asDword(), 112u);
    EXPECT_FALSE(reg.keyExists(HKCU, "Software\\Other"));
}

TEST(RegistryImport, TakesARegedit4ExportInTheAnsiCodePage) {
    TempDir dir;
    writeFile(dir / "old.reg",
              "REGEDIT4\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane\\2.1\\Accounts\\Caf\xe9]\r\n"
              "\"Host\"=\"ftp.example.org\"\r\n"
              "\"Note\"=\"\x80 5\"\r\n");
    Registry reg(dir / "store");
    auto r = reg.importFile(dir / "old.reg", {"HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_THAT(reg.subKeyNames(HKCU, "Software\\Orvandel\\Morvane\\2.1\\Accounts"),
                ElementsAre("Café"));
    EXPECT_EQ(reg.readValue(HKCU, "Software\\Orvandel\\Morvane\\2.1\\Accounts\\café", "Note")->data,
              "€ 5");
}

TEST(RegistryImport, ANonRegistryFileImportsNothing) {
    TempDir dir;
    writeFile(dir / "x.reg", "hello\n");
    Registry reg(dir / "store");
    auto r = reg.importFile(dir / "x.reg", {"HKEY_CURRENT_USER"});
    EXPECT_FALSE(r.ok);
    EXPECT_THAT(r.error, ::testing::HasSubstr("not a registry export"));
    EXPECT_FALSE(std::filesystem::exists(dir / "store" / "user.reg"));
}

} // namespace

namespace {

// An existing hive the user cannot read (mode 000, or left owned by root by a run under sudo)
// holds the user's settings all the same: it is reported and never written over.
TEST(RegistryUnreadableFile, IsReportedAndNeverWrittenOverUntilItCanBeRead) {
    MORVANE_NEEDS_ROOT("needs root to act as another user");
    TempDir dir;
    std::filesystem::create_directories(dir / "cfg");
    morvane::testing::giveToNobody(dir / "cfg");
    const std::string hive = "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane\\2.1\\Settings]\n"
                             "\"Wordwrap\"=\"True\"\n";
    writeFile(dir / "cfg" / "user.reg", hive); // root's
    ::chmod((dir / "cfg" / "user.reg").c_str(), 0600);
    writeFile(dir / "export.reg",
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane\\"
              "2.1\\Settings]\r\n\"Wordwrap\"=\"False\"\r\n");
    ::chmod((dir / "export.reg").c_str(), 0644);
    int code = morvane::testing::runAsNobody([&] {
        Registry reg(dir / "cfg");
        if (reg.readValue(HKCU, kSettings, "Wordwrap")) return 1;
        auto problems = reg.takeProblems();
        if (problems.size() != 1 || problems[0].find("cannot be read") == std::string::npos)
            return 2;
        if (reg.writeValue(HKCU, kSettings, "Geometry", RegValue::string("1,2")) ||
            reg.lastError().find("cannot be read") == std::string::npos)
            return 3;
        if (reg.importFile(dir / "export.reg", {"HKEY_CURRENT_USER\\Software"}).ok) return 4;
        if (!reg.takeProblems().empty()) return 5; // told once, not at every access
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(readFile(dir / "cfg" / "user.reg"), hive);
    EXPECT_FALSE(std::filesystem::exists(dir / "cfg" / "user.reg.damaged-"));

    // Once readable it is used again, within the same run as well (a change of mode leaves
    // the file's time and size alone).
    morvane::testing::giveToNobody(dir / "cfg" / "user.reg");
    ::chmod((dir / "cfg" / "user.reg").c_str(), 0);
    code = morvane::testing::runAsNobody([&] {
        Registry reg(dir / "cfg");
        if (reg.readValue(HKCU, kSettings, "Wordwrap")) return 1;
        if (reg.takeProblems().size() != 1) return 2;
        if (::chmod((dir / "cfg" / "user.reg").c_str(), 0600) != 0) return 3;
        auto v = reg.readValue(HKCU, kSettings, "Wordwrap");
        if (!v || v->data != "True") return 4;
        return reg.writeValue(HKCU, kSettings, "Geometry", RegValue::string("1,2")) ? 0 : 5;
    });
    EXPECT_EQ(code, 0);
    EXPECT_THAT(readFile(dir / "cfg" / "user.reg"), ::testing::HasSubstr("\"Wordwrap\"=\"True\""));
}

TEST(RegistryFiles, AHiveBehindASymbolicLinkIsWrittenThroughTheLink) {
    TempDir dir;
    std::filesystem::create_directories(dir / "dotfiles");
    std::filesystem::create_directories(dir / "cfg");
    std::filesystem::create_symlink("../dotfiles/user.reg", dir / "cfg" / "user.reg");
    Registry reg(dir / "cfg");
    ASSERT_TRUE(reg.writeValue(HKCU, kSettings, "Wordwrap", RegValue::string("True")));
    ASSERT_TRUE(reg.writeValue(HKCU, kSettings, "Show toolbar", RegValue::string("True")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "cfg" / "user.reg"));
    EXPECT_THAT(readFile(dir / "dotfiles" / "user.reg"), ::testing::HasSubstr("\"Wordwrap\""));
    Registry again(dir / "cfg");
    EXPECT_EQ(again.readValue(HKCU, kSettings, "Show toolbar")->data, "True");
}

TEST(RegistryImport, BytesTheAnsiCodePageLeavesUnassignedRoundTrip) {
    TempDir dir;
    writeFile(dir / "old.reg", "REGEDIT4\r\n\r\n"
                               "[HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane\\2.1\\Settings]\r\n"
                               "\"Odd\"=\"\x81\x8d\x8f\x90\x9d\"\r\n");
    Registry reg(dir / "store");
    ASSERT_TRUE(reg.importFile(dir / "old.reg", {"HKEY_CURRENT_USER\\Software"}).ok);
    const std::string expected = "\xc2\x81\xc2\x8d\xc2\x8f\xc2\x90\xc2\x9d"; // U+0081 ... U+009D
    EXPECT_EQ(reg.readValue(HKCU, kSettings, "Odd")->data, expected);
    Registry reread(dir / "store");
    EXPECT_EQ(reread.readValue(HKCU, kSettings, "Odd")->data, expected);
}

const char* kAccountsPath = "Software\\Orvandel\\Morvane\\2.1\\Accounts";

TEST(RegistryReplaceKey, StoresANewOrderInOneWriteAndKeepsTheKeysPlace) {
    TempDir dir;
    Registry reg(dir.path());
    ASSERT_TRUE(
        reg.writeValue(HKCU, std::string(kAccountsPath) + "\\a", "Port", RegValue::dword(21)));
    ASSERT_TRUE(
        reg.writeValue(HKCU, std::string(kAccountsPath) + "\\b", "Port", RegValue::dword(22)));
    ASSERT_TRUE(reg.writeValue(HKCU, kSettings, "x", RegValue::string("1")));

    std::vector<RegSubkey> list{{"b", {{"Port", RegValue::dword(2121)}}},
                                {"c", {{"Hostname", RegValue::string("h")}}}};
    ASSERT_TRUE(reg.replaceKey(HKCU, kAccountsPath, list));

    Registry again(dir.path()); // what another process reads from the file
    EXPECT_THAT(again.subKeyNames(HKCU, kAccountsPath), ElementsAre("b", "c"));
    EXPECT_EQ(again.readValue(HKCU, std::string(kAccountsPath) + "\\b", "Port"),
              RegValue::dword(2121));
    EXPECT_FALSE(again.keyExists(HKCU, std::string(kAccountsPath) + "\\a"));
    // The key stays where it was among its siblings; the others are untouched.
    EXPECT_THAT(again.subKeyNames(HKCU, "Software\\Orvandel\\Morvane\\2.1"),
                ElementsAre("Accounts", "Settings"));
    EXPECT_EQ(again.readValue(HKCU, kSettings, "x"), RegValue::string("1"));

    // An empty list leaves the key, empty; a missing key is created.
    ASSERT_TRUE(reg.replaceKey(HKCU, kAccountsPath, {}));
    EXPECT_TRUE(reg.keyExists(HKCU, kAccountsPath));
    EXPECT_TRUE(reg.subKeyNames(HKCU, kAccountsPath).empty());
    ASSERT_TRUE(reg.replaceKey(HKCU, "Software\\New\\Key", {{"z", {}}}));
    EXPECT_THAT(reg.subKeyNames(HKCU, "Software\\New\\Key"), ElementsAre("z"));
}

TEST(RegistryReplaceKey, RefusedNamesChangeNothing) {
    TempDir dir;
    Registry reg(dir.path());
    ASSERT_TRUE(
        reg.writeValue(HKCU, std::string(kAccountsPath) + "\\keep", "Port", RegValue::dword(21)));
    for (auto bad : {std::vector<RegSubkey>{{"x", {}}, {"X", {}}},
                     {{"a\\b", {}}},
                     {{"", {}}},
                     {{"line\nbreak", {}}}}) {
        EXPECT_FALSE(reg.replaceKey(HKCU, kAccountsPath, bad));
        EXPECT_FALSE(reg.lastError().empty());
        EXPECT_THAT(reg.subKeyNames(HKCU, kAccountsPath), ElementsAre("keep"));
    }
}

TEST(RegistryWriteValues, WritesAllValuesOfOneKeyAtOnce) {
    TempDir dir;
    Registry reg(dir.path());
    ASSERT_TRUE(reg.writeValues(HKCU, "Software\\R",
                                {{"A1", RegValue::string("x")}, {"B1", RegValue::dword(3)}}));
    Registry again(dir.path());
    EXPECT_THAT(again.valueNames(HKCU, "Software\\R"), ElementsAre("A1", "B1"));
    EXPECT_FALSE(reg.writeValues(HKCU, "Software\\R", {{"bad\nname", RegValue::string("")}}));
}

} // namespace
