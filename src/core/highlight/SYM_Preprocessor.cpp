// The directives of the script lexer: #define, #ifdef, #ifndef, #else, #endif, #include.
#include "core/highlight/SYM_Compiler.h"

#include <fstream>
#include <sstream>
#include <system_error>

namespace morvane::highlight {

namespace {
bool isLetter(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isIdentChar(int c) {
    return isLetter(c) || (c >= '0' && c <= '9') || c == '_';
}
} // namespace

void TSYM_Compiler::skipBlanks() {
    while (peek() == ' ' || peek() == '\t' || peek() == 0xA0)
        advance();
}

std::string TSYM_Compiler::readName() {
    std::string name;
    if (!isLetter(peek()) && peek() != '_') return name;
    while (isIdentChar(peek())) {
        name.push_back(char(peek()));
        advance();
    }
    return name;
}

std::string TSYM_Compiler::restOfLine() {
    std::string text;
    while (peek() >= 0 && peek() != '\r' && peek() != '\n') {
        text.push_back(char(peek()));
        advance();
    }
    return text;
}

bool TSYM_Compiler::directive() {
    Source& s = top();
    const std::size_t pos = s.pos;
    const int col = s.col;
    advance(); // '#'
    std::string word;
    while (isLetter(peek())) {
        word.push_back(char(peek()));
        advance();
    }
    if (word == "define") {
        if (skipping_)
            restOfLine();
        else
            doDefine();
    } else if (word == "ifdef" || word == "ifndef") {
        doIfdef(word == "ifdef");
    } else if (word == "else") {
        if (!conditions_.empty() && !conditions_.back()) skipping_ = !skipping_;
    } else if (word == "endif") {
        if (!conditions_.empty()) {
            skipping_ = conditions_.back();
            conditions_.pop_back();
        }
    } else if (word == "include") {
        if (skipping_)
            restOfLine();
        else
            doInclude();
    } else {
        top().pos = pos;
        top().col = col;
        return false;
    }
    return true;
}

void TSYM_Compiler::doDefine() {
    skipBlanks();
    std::string name = readName();
    if (name.empty()) error("Macro name expected");
    skipBlanks();
    std::string value = restOfLine();
    while (!value.empty() &&
           (value.back() == ' ' || value.back() == '\t' || value.back() == char(0xA0)))
        value.pop_back();
    std::string a = name, b = value;
    for (auto& c : a)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    for (auto& c : b)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    if (a == b) return;
    define(name, std::move(value));
}

void TSYM_Compiler::doIfdef(bool wantDefined) {
    conditions_.push_back(skipping_);
    if (skipping_) return;
    skipBlanks();
    std::string name = readName();
    if (name.empty()) error("Macro name expected after #ifdef");
    bool defined = macroNames_.find(name).has_value();
    skipping_ = wantDefined ? !defined : defined;
}

void TSYM_Compiler::doInclude() {
    skipBlanks();
    int open = peek();
    if (open != '"' && open != '<') error("#include filename not enclosed in \"...\" or <...>");
    char close = open == '"' ? '"' : '>';
    advance();
    std::string name;
    while (peek() >= 0 && peek() != close && peek() != '\r' && peek() != '\n') {
        name.push_back(char(peek()));
        advance();
    }
    if (peek() != close) error(std::string("#include filename missing terminating ") + close);
    advance();

    // <name> is looked up in the script's folder; a relative "name" beside the file that
    // includes it, whatever the process's working folder is.
    std::string dir = includeDir_.string();
    if (open == '"') {
        dir.clear();
        if (!name.empty() && name[0] != '/')
            for (auto it = sources_.rbegin(); it != sources_.rend(); ++it)
                if (it->isFile) {
                    dir = it->folder.string();
                    break;
                }
    }
    std::string path = name;
    if (!dir.empty()) path = dir + (dir.back() == '/' ? "" : "/") + name;
    const std::string shown = std::string(1, char(open)) + name + close;
    std::error_code ec;
    std::filesystem::path file(path);
    if (name.empty() || !std::filesystem::is_regular_file(file, ec))
        error("Unable to open #include file " + shown);
    auto canonical = std::filesystem::weakly_canonical(file, ec);
    std::string sourceName = "-file-: " + (ec ? path : canonical.string());
    if (active_.count(sourceName)) error("Recursive #include of file " + shown);
    if (includeDepth_ >= kMaxIncludeDepth) error("#include nesting too deep at " + shown);
    auto size = std::filesystem::file_size(file, ec);
    if (ec || size > kMaxIncludeSize) error("#include file too large: " + shown);
    std::ifstream in(file, std::ios::binary);
    if (!in) error("Unable to open #include file " + shown);
    std::ostringstream text;
    text << in.rdbuf();
    if ((expandedBytes_ += text.str().size()) > kMaxExpandedBytes)
        error("#include file too large: " + shown);

    Source s;
    s.name = std::move(sourceName);
    s.text = std::make_shared<const std::string>(text.str());
    s.isFile = true;
    s.folder = file.parent_path();
    ++includeDepth_;
    pushSource(std::move(s));
}

} // namespace morvane::highlight
