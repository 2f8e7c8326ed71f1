// morvane-stxc: the check, the compiled form it writes and how it reports a script's errors.
#include "tools/stxc/StxcTool.h"
#include "core/highlight/CodeMemoParser.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>

namespace morvane::tools {
namespace {

using morvane::testing::readFile;
using morvane::testing::TempDir;
using morvane::testing::writeFile;

struct Result {
    int code;
    std::string err;
};

Result Stxc(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    int code = runStxc(args, out, err);
    return {code, err.str()};
}

TEST(Stxc, ChecksCompilesAndReportsErrorsWithTheirPlace) {
    TempDir dir;
    std::string script = std::string(MORVANE_RESOURCES_DIR) + "/highlighters/cpp.stx";
    std::string out = (dir / "cpp.stc").string();
    // Only a check: nothing written.
    EXPECT_EQ(Stxc({script}).code, 0);
    EXPECT_FALSE(std::filesystem::exists(out));
    Result r = Stxc({script, "-o", out});
    ASSERT_EQ(r.code, 0) << r.err;
    highlight::TCodeMemoParser loaded;
    loaded.LoadStored(readFile(out));
    EXPECT_EQ(loaded.languageName(), "C++");

    // A positioned error, then one the compiler reports without a position.
    std::string bad = (dir / "bad.stx").string();
    writeFile(bad, "%%language\nName 1\n");
    r = Stxc({bad, "-o", (dir / "bad.stc").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, bad + ":2:7: '=' expected\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.stc"));
    r = Stxc({(dir / "missing.stx").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err.rfind((dir / "missing.stx").string() + ":1:1: Unable to open script file", 0),
              0u)
        << r.err;

    // An output that cannot be written leaves no stray file.
    r = Stxc({script, "-o", (dir / "no" / "such" / "x.stc").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(Stxc({}).code, 2);
    EXPECT_EQ(Stxc({script, "extra"}).code, 2);
}

} // namespace
} // namespace morvane::tools
