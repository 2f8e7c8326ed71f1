#include "tools/stxc/StxcTool.h"

#include "core/highlight/CodeMemoParser.h"
#include "core/highlight/SYM_Compiler.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <ostream>
#include <unistd.h>

namespace morvane::tools {

namespace {
namespace fs = std::filesystem;

// The new file appears whole or not at all: a build stopped midway leaves no half table.
bool WriteFileWhole(const std::string& path, const std::string& bytes, std::string& why) {
    std::string tmp = path + ".tmp-" + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += std::size_t(n);
    }
    bool ok = done == bytes.size() && ::fsync(fd) == 0;
    if (!ok) why = std::strerror(errno ? errno : EIO);
    ::close(fd);
    if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
        why = std::strerror(errno);
        ok = false;
    }
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}
} // namespace

int runStxc(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string script, output;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size())
            output = args[++i];
        else if (script.empty() && !args[i].empty() && args[i] != "-o")
            script = args[i];
        else
            script.clear(), i = args.size();
    }
    if (script.empty()) {
        err << "usage: morvane-stxc SCRIPT.stx [-o OUT]\n";
        return 2;
    }
    highlight::TCodeMemoParser parser(fs::path(script).stem().string());
    auto report = [&](int line, int column, const std::string& message) {
        err << script << ":" << std::max(line, 1) << ":" << std::max(column, 1) << ": " << message
            << "\n";
        return 1;
    };
    try {
        parser.compileFile(script);
    } catch (const highlight::ESYM_COMP_ERROR& e) {
        return report(e.line, e.column, e.text);
    } catch (const std::exception& e) {
        return report(parser.lastLine(), parser.lastColumn(), e.what());
    }
    if (output.empty()) return 0;
    std::string stored;
    bool same = false;
    try {
        stored = parser.SaveStored();
        // What the program will load must read back, with the same styles. (The key map may
        // come back in another order, so the bytes are not compared.)
        highlight::TCodeMemoParser check(parser.name());
        check.LoadStored(stored);
        same = check.languageName() == parser.languageName() &&
               check.settings().styleString() == parser.settings().styleString();
    } catch (const std::exception& e) {
        return report(parser.lastLine(), parser.lastColumn(), e.what());
    }
    if (!same) return report(1, 1, "the compiled form does not read back as the same highlighter");
    std::string why;
    if (!WriteFileWhole(output, stored, why)) {
        err << output << ": " << why << "\n";
        return 1;
    }
    out.flush();
    return 0;
}

} // namespace morvane::tools
