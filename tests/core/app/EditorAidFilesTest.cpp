#include "core/app/EditorAidFiles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace morvane::app;
using namespace morvane::editor;
using morvane::testing::readFile;
using morvane::testing::TempDir;
using morvane::testing::writeFile;

namespace {

std::string TemplatesForm() {
    TCodeTemplates t;
    t.addTemplate("fori", "for loop", "for (int i = 0; i < |; ++i)");
    return t.saveToString();
}

TEST(EditorAidFiles, MissingAndEmptyFilesAreQuietAndDamagedOnesAreReported) {
    TempDir dir;
    EditorAidBuffers b{"stale", "stale"};
    EXPECT_TRUE(loadEditorAids(dir.path(), b).empty());
    EXPECT_TRUE(b.autoReplace.empty());
    EXPECT_TRUE(b.templates.empty());

    writeFile(dir / kAutoReplaceFile, "");
    writeFile(dir / kTemplatesFile, TemplatesForm());
    EXPECT_TRUE(loadEditorAids(dir.path(), b).empty());
    EXPECT_TRUE(b.autoReplace.empty());
    EXPECT_EQ(b.templates, TemplatesForm());

    // Random bytes, a count of 2^31 entries, a form cut short, bytes after the end.
    const std::string damaged[] = {
        "\x9c\x11\xfe random bytes \x01\x02",
        std::string("\x00\x00\x00\x80", 4) + std::string(64, 'a'),
        TemplatesForm().substr(0, TemplatesForm().size() - 3),
        TemplatesForm() + "x",
    };
    for (const std::string& bytes : damaged) {
        writeFile(dir / kTemplatesFile, bytes);
        auto problems = loadEditorAids(dir.path(), b);
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems[0].find("Templates.txt"), std::string::npos) << problems[0];
        EXPECT_TRUE(b.templates.empty());
    }
    // A folder where the file should be cannot be read as one.
    std::filesystem::remove(dir / kTemplatesFile);
    std::filesystem::create_directory(dir / kTemplatesFile);
    EXPECT_EQ(loadEditorAids(dir.path(), b).size(), 1u);
}

TEST(EditorAidFiles, BuffersLoadIntoStoresAndEmptyOnesLeaveThemAlone) {
    TAutoReplace a;
    a.addReplacement("own", "list");
    TCodeTemplates t;
    EditorAidBuffers b{"", TemplatesForm()};
    EXPECT_TRUE(applyEditorAids(b, a, t).empty());
    EXPECT_TRUE(a.entry("own"));
    EXPECT_EQ(t.findExpansion("fori"), "for (int i = 0; i < |; ++i)");
    b.autoReplace = "\x05";
    EXPECT_EQ(applyEditorAids(b, a, t).size(), 1u);
    EXPECT_TRUE(a.entry("own"));
}

TEST(EditorAidFiles, SavingReplacesBothFilesAndReportsOneThatCannotBeWritten) {
    TempDir dir;
    TAutoReplace a;
    a.addReplacement("teh", "the");
    TCodeTemplates t;
    t.addTemplate("x", "", std::string(1 << 20, 'e'));
    // The files are written where a symbolic link points; the link stays.
    writeFile(dir / "real.txt", "old");
    std::filesystem::create_symlink(dir / "real.txt", dir / kAutoReplaceFile);
    EditorAidBuffers b;
    EXPECT_TRUE(saveEditorAids(dir.path(), a, t, b).empty());
    EXPECT_TRUE(std::filesystem::is_symlink(dir / kAutoReplaceFile));
    EXPECT_EQ(readFile(dir / "real.txt"), a.saveToString());
    EXPECT_EQ(readFile(dir / kTemplatesFile), t.saveToString());
    EXPECT_EQ(b.templates, t.saveToString());
    EditorAidBuffers back;
    EXPECT_TRUE(loadEditorAids(dir.path(), back).empty());
    EXPECT_EQ(back.autoReplace, b.autoReplace);

    // A folder in the way of Templates.txt: that one fails, the other is still written.
    std::filesystem::remove(dir / kTemplatesFile);
    std::filesystem::create_directory(dir / kTemplatesFile);
    a.addReplacement("recieve", "receive");
    auto problems = saveEditorAids(dir.path(), a, t, b);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("Templates.txt"), std::string::npos);
    EXPECT_EQ(readFile(dir / "real.txt"), a.saveToString());
    EXPECT_TRUE(std::filesystem::is_directory(dir / kTemplatesFile));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos)
            << "no temporary file is left behind";
}

} // namespace
