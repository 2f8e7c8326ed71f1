// The script lexer and its preprocessor.
#include "core/highlight/SYM_Compiler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace morvane::highlight;

namespace {

std::vector<SymToken> tokensOf(const std::string& text, const std::string& dir = {}) {
    TSYM_Compiler lex(text, dir);
    std::vector<SymToken> out;
    for (SymToken t = lex.next(); t != symEnd; t = lex.next())
        out.push_back(t);
    return out;
}

std::vector<std::uint32_t> numbersOf(const std::string& text) {
    TSYM_Compiler lex(text, {});
    std::vector<std::uint32_t> out;
    for (SymToken t = lex.next(); t != symEnd; t = lex.next())
        if (t == symNumber) out.push_back(lex.number());
    return out;
}

std::string errorOf(const std::string& text, const std::string& dir = {}) {
    try {
        tokensOf(text, dir);
    } catch (const ESYM_COMP_ERROR& e) {
        return e.what();
    }
    return "no error";
}

std::string stringOf(const std::string& text) {
    TSYM_Compiler lex(text, {});
    EXPECT_EQ(lex.next(), symString);
    return lex.stringValue();
}

struct TempDir {
    std::filesystem::path path;
    TempDir() {
        path = std::filesystem::temp_directory_path() /
               ("hl-lex-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(path / name, std::ios::binary) << text;
    }
};

} // namespace

TEST(Lexer, KeywordsAreCaseInsensitiveAndLongest) {
    EXPECT_EQ(tokensOf("%%LANGUAGE %%Handler %%handlers NAME"),
              (std::vector<SymToken>{kwLanguage, kwHandlers, kwHandlers, kwName}));
    EXPECT_EQ(tokensOf("=()[],+-?|*"),
              (std::vector<SymToken>{pEqual, pLParen, pRParen, pLBracket, pRBracket, pComma, pPlus,
                                     pMinus, pQuery, pBar, pStar}));
}

TEST(Lexer, KeywordInsideLongerIdentifierIsNotTaken) {
    // "order" is not "or" + "der": it is an identifier, here an unknown one.
    EXPECT_EQ(errorOf("1 order 2"), "** ERROR near line 1, Column 8: Identifier \"order\" Unknown");
    EXPECT_EQ(tokensOf("1 or 2"), (std::vector<SymToken>{symNumber, kwOr, symNumber}));
}

TEST(Lexer, CommentsBlanksAndLineCounting) {
    EXPECT_EQ(numbersOf("/* a ** b **/ 1 // 2\n3\xA0\t4"), (std::vector<std::uint32_t>{1, 3, 4}));
    // CR, LF and CR LF each count one line; columns start at 1.
    EXPECT_EQ(errorOf("1\r\n2\r3\n  $"),
              "** ERROR near line 4, Column 3: Unknown character in input stream: #$24");
    EXPECT_EQ(errorOf("/* one\ntwo */ @"),
              "** ERROR near line 2, Column 8: Unknown character in input stream: #$40");
}

TEST(Lexer, NumbersAccumulateIn32Bits) {
    EXPECT_EQ(numbersOf("0 4294967295 4294967296"),
              (std::vector<std::uint32_t>{0, 4294967295u, 0}));
}

TEST(Lexer, StringEscapes) {
    EXPECT_EQ(stringOf("'\\n'"), "\r");
    EXPECT_EQ(stringOf("'\\r'"), "\n");
    EXPECT_EQ(stringOf("'\\b\\e\\s\\t'"), std::string("\x08\x1b \t"));
    EXPECT_EQ(stringOf("'\\x41\\x4aG\\101\\q\\''"), "AJGAq'");
    // Hexadecimal digits run on: \x4a4 is one character.
    EXPECT_EQ(stringOf("'\\x4a4'"), "\xA4");
    EXPECT_EQ(stringOf("'\\x'"), std::string(1, '\0'));
    // End of input ends a string.
    EXPECT_EQ(stringOf("'open"), "open");
}

TEST(Lexer, RawStringKeepsEscapes) {
    TSYM_Compiler lex("'a\\-z\\''", {});
    ASSERT_EQ(lex.next(), symString);
    EXPECT_EQ(lex.rawString(), "a\\-z\\'");
}

TEST(Lexer, StringContinuationDropsBreakBlanksAndOneBackslash) {
    EXPECT_EQ(stringOf("'abc\\\r\n   \\def'"), "abcdef");
    EXPECT_EQ(stringOf("'abc\\\n\tdef'"), "abcdef");
}

TEST(Lexer, MacrosExpandAndRedefine) {
    EXPECT_EQ(numbersOf("clRed clred CLRED"), (std::vector<std::uint32_t>{255, 255, 255}));
    EXPECT_EQ(numbersOf("#define clRed 7\nclRed"), (std::vector<std::uint32_t>{7}));
    EXPECT_EQ(numbersOf("#define A B  \n#define B 5 \nA"), (std::vector<std::uint32_t>{5}));
    EXPECT_EQ(numbersOf("__DEFAULT_OPTIONS caSETBOOKMARK3 F12 END"),
              (std::vector<std::uint32_t>{67099632, 23, 123, 35}));
    // A define whose value is its own name is ignored.
    EXPECT_EQ(numbersOf("#define X 1\n#define X x\nX"), (std::vector<std::uint32_t>{1}));
}

TEST(Lexer, RecursiveMacrosFail) {
    EXPECT_EQ(errorOf("ver200"),
              "** ERROR near line 1, Column 7: Recursive expansion of macro 'ver200'");
    EXPECT_NE(errorOf("#define A B\n#define B A\nA").find("Recursive expansion of macro 'A'"),
              std::string::npos);
    EXPECT_NE(errorOf("#define A 1 A\nA").find("Recursive expansion of macro 'A'"),
              std::string::npos);
}

TEST(Lexer, ExponentialMacrosAreBounded) {
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += "#define M" + std::to_string(i) + " M" + std::to_string(i + 1) + " M" +
                std::to_string(i + 1) + "\n";
    text += "#define M40 1\nM0";
    EXPECT_NE(errorOf(text).find("Too many macro expansions"), std::string::npos);
}

TEST(Lexer, ConditionalsNestAndSkip) {
    EXPECT_EQ(numbersOf("#ifdef ver200\n1\n#else\n2\n#endif\n3"),
              (std::vector<std::uint32_t>{1, 3}));
    EXPECT_EQ(numbersOf("#ifndef ver200\n1\n#else\n2\n#endif"), (std::vector<std::uint32_t>{2}));
    // Inside a skipped level nothing is read: no errors, no defines, inner #else has no effect.
    EXPECT_EQ(numbersOf("#ifdef NOPE\n$ 'x #endif' #define Q 1\n#ifdef ver200\n5\n#else\n6\n"
                        "#endif\n7\n#endif\n8"),
              (std::vector<std::uint32_t>{8}));
    EXPECT_EQ(errorOf("#ifdef\n"),
              "** ERROR near line 1, Column 7: Macro name expected after #ifdef");
    EXPECT_EQ(errorOf("#define 9"), "** ERROR near line 1, Column 9: Macro name expected");
    // Unbalanced #else/#endif and an open #ifdef at the end are harmless.
    EXPECT_EQ(numbersOf("#endif\n#else\n1\n#ifdef ver200\n2"), (std::vector<std::uint32_t>{1, 2}));
}

TEST(Lexer, HashWithoutDirectiveIsUnknownCharacter) {
    EXPECT_EQ(errorOf("#pragma"),
              "** ERROR near line 1, Column 1: Unknown character in input stream: #$23");
    EXPECT_EQ(errorOf("\x01"),
              "** ERROR near line 1, Column 1: Unknown character in input stream: #$01");
}

TEST(Lexer, IncludeFindsFilesAndReportsErrors) {
    TempDir dir;
    dir.write("x.txt", "41 42");
    EXPECT_EQ(tokensOf("#include <x.txt>\n1", dir.path.string()),
              (std::vector<SymToken>{symNumber, symNumber, symNumber}));
    // The directory without a trailing separator is joined with one.
    EXPECT_EQ(tokensOf("#include <x.txt>", dir.path.string() + "/").size(), 2u);
    EXPECT_EQ(tokensOf("#include \"" + (dir.path / "x.txt").string() + "\"").size(), 2u);
    EXPECT_EQ(
        errorOf("#include x.txt"),
        "** ERROR near line 1, Column 10: #include filename not enclosed in \"...\" or <...>");
    EXPECT_EQ(errorOf("#include <x.txt\n"),
              "** ERROR near line 1, Column 16: #include filename missing terminating >");
    EXPECT_NE(errorOf("#include <nope.txt>", dir.path.string())
                  .find("Unable to open #include file <nope.txt>"),
              std::string::npos);
}

TEST(Lexer, QuotedIncludesResolveBesideTheIncludingFileNotTheWorkingFolder) {
    TempDir dir;
    std::filesystem::create_directories(dir.path / "sub");
    std::filesystem::create_directories(dir.path / "elsewhere" / "sub");
    dir.write("a.stx", "1\n#include \"sub/b.stx\"\n");
    dir.write("sub/b.stx", "2\n#include \"c.stx\"\n#include <d.stx>\n");
    dir.write("sub/c.stx", "3");
    dir.write("d.stx", "4");
    // Decoys where the old lookup went: the process's working folder.
    dir.write("elsewhere/a.stx", "91");
    dir.write("elsewhere/sub/b.stx", "92");
    dir.write("elsewhere/c.stx", "93");
    const auto saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.path / "elsewhere");
    std::vector<std::uint32_t> numbers;
    std::string failure;
    try {
        TSYM_Compiler lex("#include \"a.stx\"\n5", dir.path);
        for (SymToken t = lex.next(); t != symEnd; t = lex.next())
            if (t == symNumber) numbers.push_back(lex.number());
    } catch (const ESYM_COMP_ERROR& e) {
        failure = e.what();
    }
    std::filesystem::current_path(saved);
    EXPECT_EQ(failure, "");
    EXPECT_EQ(numbers, (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
}

TEST(Lexer, RecursiveIncludeFails) {
    TempDir dir;
    dir.write("self.stx", "1\n#include <self.stx>\n");
    dir.write("a.stx", "#include <b.stx>\n");
    dir.write("b.stx", "#include <a.stx>\n");
    EXPECT_NE(errorOf("#include <self.stx>", dir.path.string()).find("Recursive #include"),
              std::string::npos);
    EXPECT_NE(errorOf("#include <a.stx>", dir.path.string()).find("Recursive #include"),
              std::string::npos);
    // A directory is no include file.
    std::filesystem::create_directory(dir.path / "d");
    EXPECT_NE(errorOf("#include <d>", dir.path.string()).find("Unable to open"), std::string::npos);
}
