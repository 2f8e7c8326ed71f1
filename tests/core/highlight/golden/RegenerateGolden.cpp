// Rewrites golden/reference/ from golden/input/ with the highlighters as built, and names the
// references it changed. The references are then reviewed by hand (git diff) before they are
// committed: the test that reads them never writes them.
#include "EngineTestUtil.h"
#include "GoldenFiles.h"

#include <iostream>

using namespace morvane::highlight;
namespace fs = std::filesystem;

int main() {
    try {
        int changed = 0;
        for (const auto& s : golden::samples()) {
            auto engine = testing::builtinEngine(s.language);
            std::string text = golden::editorText(golden::readFile(s.input));
            std::string runs = golden::runs(text, HighlightText(*engine, text));
            if (fs::exists(s.reference) && golden::readFile(s.reference) == runs) continue;
            fs::create_directories(s.reference.parent_path());
            std::ofstream out(s.reference, std::ios::binary);
            out << runs;
            if (!out.flush()) {
                std::cerr << "cannot write " << s.reference.string() << "\n";
                return 1;
            }
            std::cout << "rewritten: " << s.reference.string() << "\n";
            ++changed;
        }
        std::cout << changed << " reference(s) rewritten\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}
