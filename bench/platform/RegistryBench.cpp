// Times the settings store on large exports: import into an empty store (parse, apply, write
// the hive), then a fresh store reading that hive back, then one value written into it.
//   morvane_registry_bench [keys] [values] [folder]
// Two exports: `keys` sibling keys under one key, and one key holding `values` values (the worst
// cases for name lookups). A hive stays under the store's 64 MB limit up to about a million
// empty keys.
#include "core/platform/Registry.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

using namespace morvane::platform;
namespace fs = std::filesystem;

namespace {

const char* kRoot = "HKEY_CURRENT_USER\\Software\\Orvandel\\Morvane";

// Wall-clock seconds, and the CPU seconds of this process (the machine may be shared).
struct Since {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    std::clock_t cpu = std::clock();
    void print(const char* what) const {
        std::printf("  %-16s %7.2f s  (cpu %.2f s)\n", what,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count(),
                    double(std::clock() - cpu) / CLOCKS_PER_SEC);
    }
};

bool run(const char* what, const fs::path& dir, long count, bool asValues) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path exportFile = dir / "export.reg";
    {
        std::ofstream out(exportFile, std::ios::binary);
        out << "Windows Registry Editor Version 5.00\n\n";
        if (asValues) out << "[" << kRoot << "\\V]\n";
        char line[96];
        for (long i = 0; i < count; ++i) {
            if (asValues)
                std::snprintf(line, sizeof line, "\"v%07ld\"=dword:%08lx\n", i, i);
            else
                std::snprintf(line, sizeof line, "[%s\\K\\k%07ld]\n\n", kRoot, i);
            out << line;
        }
    }
    std::printf("%s: %ld, export %.1f MB\n", what, count, double(fs::file_size(exportFile)) / 1e6);

    Since t0;
    Registry importer(dir / "store");
    auto r = importer.importFile(exportFile, {kRoot});
    t0.print("import");
    if (!r.ok) {
        std::fprintf(stderr, "import failed: %s\n", r.error.c_str());
        return false;
    }

    char last[32];
    std::snprintf(last, sizeof last, asValues ? "V%07ld" : "K%07ld", count - 1);
    Since t1;
    Registry reader(dir / "store");
    const std::string base = "Software\\Orvandel\\Morvane\\";
    const bool found = asValues ? reader.valueExists(Hive::CurrentUser, base + "V", last)
                                : reader.keyExists(Hive::CurrentUser, base + "K\\" + last);
    t1.print("read the hive");
    for (auto& p : reader.takeProblems())
        std::fprintf(stderr, "  %s\n", p.c_str());
    if (!found) {
        std::fprintf(stderr, "the last entry is missing\n");
        return false;
    }

    Since t2;
    reader.writeValue(Hive::CurrentUser, base + "K", "Touched", RegValue::dword(1));
    t2.print("write one value");
    fs::remove_all(dir);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const long keys = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long values = argc > 2 ? std::atol(argv[2]) : 1000000;
    const fs::path dir =
        argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path() / "morvane-registry-bench";
    bool ok = run("keys", dir, keys, false) && run("values", dir, values, true);
    fs::remove_all(dir);
    return ok ? 0 : 1;
}
