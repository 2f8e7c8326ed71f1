// The mirror walk against a scripted server that serves a tree: the order of the walk, and the
// faults of hostile or broken servers (names that are paths, local links out of the root,
// transfers cut off, folders that cannot be entered, link loops).
#include "NetTestUtil.h"
#include "ScriptedFtpServer.h"
#include "support/TempDir.h"

#include "core/net/FtpFileSystem.h"
#include "core/net/MirrorWalk.h"

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <optional>

using namespace morvane::net;
using namespace morvane::testing;
namespace fs = std::filesystem;
using Session = ScriptedFtpServer::Session;

namespace {

std::string FileLine(const std::string& name, std::size_t size = 5) {
    return "-rw-r--r-- 1 u g " + std::to_string(size) + " Jan  1 12:00 " + name + "\r\n";
}
std::string DirLine(const std::string& name) {
    return "drwxr-xr-x 2 u g 4096 Jan  1 12:00 " + name + "\r\n";
}
std::string LinkLine(const std::string& name, const std::string& target) {
    return "lrwxrwxrwx 1 u g 2 Jan  1 12:00 " + name + (target.empty() ? "" : " -> " + target) +
           "\r\n";
}

// A scripted server over a tree of folders (path -> listing) and files (path -> bytes):
// CWD moves within it, PWD tells where, LIST and RETR serve the current folder.
struct TreeServer {
    ScriptedFtpServer server;
    std::map<std::string, std::string> listings;
    std::map<std::string, std::string> files;
    std::string cwd = "/home/user";

    static std::string Resolve(const std::string& cwd, const std::string& arg) {
        return !arg.empty() && arg[0] == '/' ? arg : cwd + "/" + arg;
    }
    void start() {
        server.handlers["CWD"] = [this](Session& s, const std::string& arg) {
            std::string to = Resolve(cwd, arg);
            if (!listings.count(to)) return s.send("550 No such folder\r\n");
            cwd = to;
            s.send("250 OK\r\n");
        };
        server.handlers["PWD"] = [this](Session& s, const std::string&) {
            s.send("257 \"" + cwd + "\"\r\n");
        };
        server.handlers["LIST"] = [this](Session& s, const std::string&) {
            s.send("150 Here\r\n");
            if (!s.dataConnect()) return s.send("425 No data connection\r\n");
            s.dataSend(listings[cwd]);
            s.dataClose();
            s.send("226 Done\r\n");
        };
        server.handlers["RETR"] = [this](Session& s, const std::string& arg) {
            auto it = files.find(Resolve(cwd, arg));
            if (it == files.end()) return s.send("550 No such file\r\n");
            s.send("150 Here\r\n");
            if (!s.dataConnect()) return s.send("425 No data connection\r\n");
            s.dataSend(it->second);
            s.dataClose();
            s.send("226 Done\r\n");
        };
        server.start();
    }
    std::vector<std::string> sent(const std::string& verb) const {
        std::vector<std::string> out;
        for (const std::string& c : server.commands())
            if (c == verb || c.rfind(verb + " ", 0) == 0)
                out.push_back(c.size() > verb.size() ? c.substr(verb.size() + 1) : "");
        return out;
    }
};

class MirrorWalkTest : public ::testing::Test {
protected:
    // Runs the walk of remote into the local root to its end.
    void Mirror(TreeServer& tree, const std::string& remote = "",
                std::function<void(TMirrorWalk&)> setup = nullptr) {
        TRemoteLogin login;
        login.host = "127.0.0.1";
        login.port = tree.server.port();
        login.user = "u";
        login.password = "p";
        ftp.SetLogin(login);
        TMirrorWalk walk(*loop, ftp);
        walk.events.note = [&](const std::string& line) { notes.push_back(line); };
        walk.events.file = [&](const std::string& r, const std::string&, std::int64_t) {
            copied.push_back(r);
        };
        walk.events.askContinue = [&](const std::string& message) {
            questions.push_back(message);
            return answer;
        };
        walk.events.finished = [&](const TMirrorSummary& s, const std::string& m) {
            summary = s;
            message = m;
        };
        if (setup) setup(walk);
        walk.Start(remote, root.string());
        ASSERT_TRUE(RunUntil(
            *loop, [&] { return message.has_value(); }, 20000));
        ftp.Disconnect();
    }

    TempDir scratch;
    fs::path root = scratch / "root";
    std::unique_ptr<morvane::platform::EventLoop> loop = morvane::platform::makePollEventLoop();
    TFtpFileSystem ftp{*loop};
    std::vector<std::string> notes, copied, questions;
    bool answer = true;
    TMirrorSummary summary;
    std::optional<std::string> message;

    void SetUp() override { fs::create_directories(root); }
};

// Every file and link under a folder with its bytes or target, for comparing before and after.
std::map<std::string, std::string> Snapshot(const fs::path& top) {
    std::map<std::string, std::string> all;
    for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator();
         ++it) {
        std::string key = fs::relative(it->path(), top).string();
        if (it->is_symlink())
            all[key] = "link:" + fs::read_symlink(it->path()).string();
        else if (it->is_regular_file())
            all[key] = readFile(it->path());
        else if (it->is_directory())
            all[key] = "folder";
    }
    return all;
}

} // namespace

TEST(MirrorNames, PathsAndControlCharactersAreNoNames) {
    for (std::string bad : std::vector<std::string>{"", ".", "..", "../x", "/etc/x", "a/b", "a\\b",
                                                    "a\rb", "a\nb", std::string("a\0b", 3)})
        EXPECT_NE(MirrorNameProblem(bad), "") << MirrorShownName(bad);
    for (std::string good :
         std::vector<std::string>{"a", "...", "..x", "name with blanks", ".hidden", "caf\xc3\xa9"})
        EXPECT_EQ(MirrorNameProblem(good), "") << good;
    EXPECT_EQ(MirrorShownName(std::string("a\r\nb\\\0", 6)), "a\\x0d\\x0ab\\\\\\x00");
}

TEST_F(MirrorWalkTest, FilesOfAFolderComeBeforeItsFoldersLevelByLevel) {
    TreeServer tree;
    tree.listings["/home/user"] = FileLine("a") + DirLine("d1") + FileLine("b") + DirLine("d2");
    tree.listings["/home/user/d1"] = DirLine("d3") + FileLine("c");
    tree.listings["/home/user/d2"] = FileLine("f");
    tree.listings["/home/user/d1/d3"] = FileLine("e");
    for (const char* f : {"/home/user/a", "/home/user/b", "/home/user/d1/c", "/home/user/d2/f",
                          "/home/user/d1/d3/e"})
        tree.files[f] = std::string("bytes of ") + f;
    tree.start();
    Mirror(tree);
    EXPECT_EQ(*message, "Finished mirroring to " + root.string());
    EXPECT_TRUE(summary.completed);
    EXPECT_THAT(copied, ::testing::ElementsAre("/home/user/a", "/home/user/b", "/home/user/d1/c",
                                               "/home/user/d2/f", "/home/user/d1/d3/e"));
    EXPECT_EQ(readFile(root / "d1/d3/e"), "bytes of /home/user/d1/d3/e");
    EXPECT_EQ(summary.files, 5);
    EXPECT_EQ(summary.folders, 4);
    // Binary transfers; folders entered by the path they were queued under.
    EXPECT_THAT(tree.sent("TYPE"), ::testing::Contains("I"));
    EXPECT_THAT(tree.sent("CWD"), ::testing::ElementsAre("/home/user", "/home/user/d1",
                                                         "/home/user/d2", "/home/user/d1/d3"));
    EXPECT_TRUE(questions.empty());
}

TEST_F(MirrorWalkTest, HostileNamesAndLocalLinksWriteNothingOutsideTheRoot) {
    fs::path outside = scratch / "outside";
    fs::create_directories(outside);
    writeFile(outside / "victim.txt", "precious");
    writeFile(scratch / "beside.txt", "beside");
    fs::create_directory_symlink(outside, root / "planted");
    fs::create_symlink(outside / "victim.txt", root / "victim.txt");
    fs::create_symlink(outside / "new.txt", root / "dangling.txt");
    fs::create_directories(root / "inner");
    writeFile(root / "inner/file.txt", "old");
    fs::create_symlink(root / "inner/file.txt", root / "inward");
    auto before = Snapshot(scratch.path());

    TreeServer tree;
    std::string home = "/home/user";
    std::string nul("nul\0x", 5);
    tree.listings[home] =
        FileLine("../../x") + FileLine("/etc/x") + FileLine("..") + FileLine(".") +
        FileLine("cr\rname") + FileLine("back\\slash") + FileLine(nul) + DirLine("../../evil") +
        DirLine("/tmp/evil") + DirLine("..") + DirLine("planted") + FileLine("victim.txt") +
        FileLine("dangling.txt") + FileLine("inward") + FileLine("ok.txt") +
        "-rw-r--r-- 1 u g 5 Jan  1 12:00 \r\n" + LinkLine("up", "..") + LinkLine("root", "/");
    tree.listings[home + "/planted"] = FileLine("x");
    tree.listings["/"] = DirLine("home") + FileLine("rootfile");
    // Every name is served, so only the walk keeps them off the disk.
    for (std::string name : {"../../x", "/etc/x", "..", ".", "cr\rname", "back\\slash",
                             "victim.txt", "dangling.txt", "inward", "ok.txt", "planted/x"})
        tree.files[TreeServer::Resolve(home, name)] = "HOSTILE " + name;
    tree.files[home + "/" + nul] = "HOSTILE";
    tree.start();
    Mirror(tree);
    ASSERT_TRUE(summary.completed) << *message;

    auto after = Snapshot(scratch.path());
    for (const auto& [path, content] : before) {
        if (path.rfind("root/", 0) == 0) continue;
        EXPECT_EQ(after[path], content) << path;
    }
    for (const auto& [path, content] : after) {
        if (before.count(path)) continue;
        EXPECT_EQ(path, "root/ok.txt");
    }
    EXPECT_FALSE(fs::exists(outside / "new.txt"));
    EXPECT_FALSE(fs::exists(scratch / "x"));
    EXPECT_EQ(readFile(root / "ok.txt"), "HOSTILE ok.txt");
    // The dangling link is replaced by the file itself; the link into the root is followed.
    EXPECT_FALSE(fs::is_symlink(root / "dangling.txt"));
    EXPECT_EQ(readFile(root / "inner/file.txt"), "HOSTILE inward");
    EXPECT_EQ(readFile(root / "dangling.txt"), "HOSTILE dangling.txt");
    EXPECT_EQ(readFile(outside / "victim.txt"), "precious");

    // Names that are paths were never sent; each is a line of output.
    for (const std::string& retr : tree.sent("RETR"))
        EXPECT_EQ(MirrorNameProblem(retr), "") << retr;
    EXPECT_THAT(tree.sent("CWD"), ::testing::Not(::testing::Contains("/")));
    EXPECT_GE(summary.skipped, 10);
    EXPECT_THAT(notes, ::testing::Contains(::testing::HasSubstr("cr\\x0dname")));
    // The two local links that lead out became questions, and the walk went on.
    EXPECT_EQ(summary.failed, 2);
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_THAT(questions, ::testing::Each(::testing::HasSubstr("outside")));
}

TEST_F(MirrorWalkTest, ACutTransferKeepsThePreviousCopyAndTheWalkGoesOn) {
    TreeServer tree;
    tree.listings["/home/user"] = FileLine("big.bin", 100000) + FileLine("after.txt");
    tree.files["/home/user/after.txt"] = "after";
    tree.server.handlers["RETR"] = [&tree](Session& s, const std::string& arg) {
        if (arg != "big.bin") {
            s.send("150 Here\r\n");
            s.dataConnect();
            s.dataSend(tree.files["/home/user/" + arg]);
            s.dataClose();
            return s.send("226 Done\r\n");
        }
        // Half the file, then the server goes away.
        s.send("150 Here\r\n");
        s.dataConnect();
        s.dataSend(std::string(50000, 'n'));
        s.stall(100);
        s.dataClose();
        s.close();
    };
    writeFile(root / "big.bin", "the previous copy");
    tree.start();
    Mirror(tree);
    EXPECT_TRUE(summary.completed) << *message;
    EXPECT_EQ(readFile(root / "big.bin"), "the previous copy");
    EXPECT_EQ(readFile(root / "after.txt"), "after"); // logged in again and went on
    EXPECT_EQ(summary.failed, 1);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_THAT(questions[0], ::testing::HasSubstr("big.bin"));
    // No partial file is left beside it.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(root))
        names.push_back(e.path().filename().string());
    EXPECT_THAT(names, ::testing::UnorderedElementsAre("big.bin", "after.txt"));
}

TEST_F(MirrorWalkTest, AFolderThatCannotBeEnteredIsSkippedOnceAndNoAnswerStops) {
    TreeServer tree;
    tree.listings["/home/user"] = DirLine("locked") + DirLine("open");
    tree.listings["/home/user/open"] = FileLine("f");
    tree.files["/home/user/open/f"] = "f";
    tree.start();
    Mirror(tree);
    EXPECT_TRUE(summary.completed);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_THAT(questions[0], ::testing::HasSubstr("/home/user/locked"));
    EXPECT_THAT(tree.sent("CWD"),
                ::testing::ElementsAre("/home/user", "/home/user/locked", "/home/user/open"));
    EXPECT_EQ(tree.sent("LIST").size(), 2u); // the start folder and "open", never again
    EXPECT_EQ(readFile(root / "open/f"), "f");
    EXPECT_FALSE(fs::exists(root / "locked"));

    // Answering No ends the walk there.
    TreeServer again;
    again.listings = tree.listings;
    again.files = tree.files;
    again.start();
    fs::remove_all(root / "open");
    answer = false;
    message.reset();
    questions.clear();
    Mirror(again);
    EXPECT_FALSE(summary.completed);
    EXPECT_EQ(*message, "Mirroring stopped");
    EXPECT_FALSE(fs::exists(root / "open"));
}

TEST_F(MirrorWalkTest, LinkLoopsEndEvenWhenTheServerHidesThem) {
    TreeServer tree;
    // "up" names its target; "loop" does not, and the server gives logical paths, so that
    // every level looks new: only the depth bound ends it.
    tree.listings["/home/user"] = FileLine("f") + LinkLine("up", "..") + LinkLine("loop", "");
    std::string p = "/home/user";
    for (int i = 0; i < 30; ++i) {
        p += "/loop";
        tree.listings[p] = tree.listings["/home/user"];
        tree.files[p + "/f"] = "f";
    }
    tree.files["/home/user/f"] = "f";
    tree.start();
    Mirror(tree, "", [](TMirrorWalk& w) { w.maxDepth = 4; });
    EXPECT_TRUE(summary.completed);
    EXPECT_EQ(tree.sent("CWD").size(), 5u); // the start and four levels of "loop"
    EXPECT_THAT(tree.sent("CWD"), ::testing::Not(::testing::Contains(::testing::HasSubstr("up"))));
    EXPECT_THAT(notes, ::testing::Contains(::testing::HasSubstr("levels deep")));
    EXPECT_EQ(readFile(root / "loop/loop/loop/loop/f"), "f");
}

TEST_F(MirrorWalkTest, AServerWithoutSlashPathsIsRefused) {
    TreeServer tree;
    tree.server.replies["SYST"] = "215 VMS system type.\r\n";
    tree.listings["/home/user"] = FileLine("f");
    tree.start();
    Mirror(tree);
    EXPECT_EQ(*message, "Host does not support hierarchical directory listings, cannot mirror");
    EXPECT_FALSE(summary.completed);
    EXPECT_TRUE(tree.sent("LIST").empty());
    EXPECT_TRUE(fs::is_empty(root));
}

TEST_F(MirrorWalkTest, ALocalFolderThatCannotBeMadeIsAQuestion) {
    TreeServer tree;
    tree.listings["/home/user"] = DirLine("sub") + DirLine("next");
    tree.listings["/home/user/sub"] = FileLine("f");
    tree.listings["/home/user/next"] = FileLine("g");
    tree.files["/home/user/next/g"] = "g";
    writeFile(root / "sub", "a file where the folder would go");
    tree.start();
    Mirror(tree);
    EXPECT_TRUE(summary.completed);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_THAT(questions[0], ::testing::HasSubstr("sub"));
    EXPECT_EQ(readFile(root / "sub"), "a file where the folder would go");
    EXPECT_EQ(readFile(root / "next/g"), "g");
}
