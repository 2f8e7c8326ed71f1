// libFuzzer entry: any bytes as a highlighter script, a style string and a stored key map.
// Compilation may fail only with the compiler's own errors; anything else (a crash, a hang, another
// exception) is a finding.
#include "core/editor/CodeMemoError.h"
#include "core/editor/KeyboardActionContoller.h"
#include "core/editor/Keywords.h"
#include "core/highlight/CodeMemoParser.h"
#include "core/highlight/SYM_Compiler.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvane;
    highlight::TCodeMemoParser parser;
    // Includes resolve inside a folder that holds nothing, so no input reads outside files.
    parser.setScript("/nonexistent-morvane-fuzz/script.stx");
    try {
        parser.compile(std::string(reinterpret_cast<const char*>(data), size));
        // A compiled definition must survive its own settings round trip.
        std::string bytes;
        editor::BinaryWriter out(bytes);
        parser.settings().writeStream(out);
        editor::BinaryReader in(bytes);
        highlight::TSM_Settings copy;
        copy.readStream(in);
        copy.applyStyleString(parser.settings().styleString());
    } catch (const highlight::ESYM_COMP_ERROR&) {
    } catch (const editor::ECodeMemo&) {
    } catch (const editor::EKeywords&) {
    } catch (const editor::EKeyControllerException&) {
    }
    // The same bytes as values read back from the settings store.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        highlight::TSM_Settings settings;
        settings.applyStyleString(bytes);
    } catch (const editor::ECodeMemo&) {
    }
    try {
        editor::TKeyboardActionContoller keys;
        editor::BinaryReader in(bytes);
        keys.loadFromStream(in);
    } catch (const editor::EStreamError&) {
    } catch (const editor::EKeyControllerException&) {
    }
    return 0;
}
