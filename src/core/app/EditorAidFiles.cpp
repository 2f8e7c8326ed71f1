#include "core/app/EditorAidFiles.h"

#include "core/editor/BinaryStream.h"
#include "core/editor/CodeMemoError.h"
#include "core/platform/Paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane::app {

namespace {

namespace fs = std::filesystem;

// Far more than any list a user keeps; a bigger file is not one of these.
constexpr std::uintmax_t kMaxFileSize = 64u << 20;

std::string readFile(const fs::path& file, std::string& bytes) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return {};
        return std::string("it cannot be read: ") + std::strerror(errno);
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return "it is not a regular file";
    }
    if (std::uintmax_t(st.st_size) > kMaxFileSize) {
        ::close(fd);
        return "it is larger than 64 MB";
    }
    bytes.clear();
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            bytes.clear();
            return std::string("it cannot be read: ") + std::strerror(err);
        }
        if (n == 0) break;
        bytes.append(chunk, std::size_t(n));
        if (bytes.size() > kMaxFileSize) {
            ::close(fd);
            bytes.clear();
            return "it is larger than 64 MB";
        }
    }
    ::close(fd);
    return {};
}

// Whether bytes are a whole stream form of Store; the reason when not.
template <class Store> std::string checkForm(std::string_view bytes) {
    Store scratch;
    try {
        editor::BinaryReader in(bytes);
        scratch.loadFromStream(in);
        if (!in.atEnd()) return "it has bytes after its end";
    } catch (const editor::EStreamError&) {
        return "it is cut short or damaged";
    } catch (const editor::ECodeMemo& e) {
        return e.what();
    }
    return {};
}

template <class Store>
void loadOne(const fs::path& file, std::string& buffer, std::vector<std::string>& problems) {
    buffer.clear();
    std::string bytes;
    std::string problem = readFile(file, bytes);
    if (problem.empty() && !bytes.empty()) problem = checkForm<Store>(bytes);
    if (!problem.empty()) {
        problems.push_back("\"" + file.string() + "\" is not used: " + problem +
                           ". The highlighters keep their own lists.");
        return;
    }
    buffer = std::move(bytes);
}

template <class Store>
void applyOne(const std::string& buffer, Store& store, const char* name,
              std::vector<std::string>& problems) {
    if (buffer.empty()) return;
    try {
        editor::BinaryReader in(buffer);
        store.loadFromStream(in);
    } catch (const std::exception& e) {
        problems.push_back(std::string(name) + " could not be loaded (" + e.what() +
                           "); the list stays as it was.");
    }
}

} // namespace

std::vector<std::string> loadEditorAids(const fs::path& folder, EditorAidBuffers& buffers) {
    std::vector<std::string> problems;
    loadOne<editor::TAutoReplace>(folder / kAutoReplaceFile, buffers.autoReplace, problems);
    loadOne<editor::TCodeTemplates>(folder / kTemplatesFile, buffers.templates, problems);
    return problems;
}

std::vector<std::string> applyEditorAids(const EditorAidBuffers& buffers,
                                         editor::TAutoReplace& autoReplace,
                                         editor::TCodeTemplates& templates) {
    std::vector<std::string> problems;
    applyOne(buffers.autoReplace, autoReplace, kAutoReplaceFile, problems);
    applyOne(buffers.templates, templates, kTemplatesFile, problems);
    return problems;
}

std::vector<std::string> saveEditorAids(const fs::path& folder,
                                        const editor::TAutoReplace& autoReplace,
                                        const editor::TCodeTemplates& templates,
                                        EditorAidBuffers& buffers) {
    buffers.autoReplace = autoReplace.saveToString();
    buffers.templates = templates.saveToString();
    std::vector<std::string> problems;
    for (auto [name, bytes] : {std::pair{kAutoReplaceFile, &buffers.autoReplace},
                               std::pair{kTemplatesFile, &buffers.templates}}) {
        std::string error = replaceFileAtomically(folder / name, *bytes);
        if (!error.empty()) problems.push_back(error);
    }
    return problems;
}

std::string replaceFileAtomically(const fs::path& link, std::string_view data) {
    fs::path file = platform::writeTarget(link.string());
    fs::path temp = file;
    temp += ".tmp-" + std::to_string(::getpid());
    auto failed = [&](int err) {
        return "The file \"" + file.string() + "\" could not be written (" + std::strerror(err) +
               "); it keeps its earlier contents.";
    };
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return failed(errno);
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += std::size_t(n);
    }
    int err = ok ? 0 : (errno ? errno : EIO);
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        err = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    struct stat st;
    if (ok && ::stat(file.c_str(), &st) == 0) ::chmod(temp.c_str(), st.st_mode & 07777);
    if (ok && ::rename(temp.c_str(), file.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return failed(err);
    }
    fs::path dir = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return {};
}

} // namespace morvane::app
