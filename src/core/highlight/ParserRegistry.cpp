// Keeping a highlighter's user settings in the settings store: the style string and the key
// assignment value, both named after the language.
#include "core/highlight/CodeMemoParser.h"

#include "core/editor/BinaryStream.h"
#include "core/editor/CodeMemoError.h"
#include "core/platform/Registry.h"

namespace morvane::highlight {

using editor::ECodeMemo;
using platform::Hive;
using platform::RegValue;

namespace {
constexpr std::string_view kKeyMarker = "Corvix6:";
}

void TCodeMemoParser::saveToRegistry(platform::Registry& registry) const {
    if (!useRegistry || registryKey.empty())
        throw ECodeMemo("Registry interface disabled in: " + name_);
    registry.createKey(Hive::CurrentUser, registryKey);
    std::string keys(1, char(8));
    keys += kKeyMarker;
    keys += settings().keys.saveToString();
    if (!registry.writeValue(Hive::CurrentUser, registryKey, styleValueName(),
                             RegValue::string(settings().styleString())) ||
        !registry.writeValue(Hive::CurrentUser, registryKey, keysValueName(),
                             RegValue::binary(keys)))
        throw ECodeMemo("Unable to write the settings of " + languageName() + ": " +
                        registry.lastError());
}

void TCodeMemoParser::loadFromRegistry(platform::Registry& registry) {
    if (!useRegistry || registryKey.empty())
        throw ECodeMemo("Registry interface disabled in: " + name_);
    if (!registry.keyExists(Hive::CurrentUser, registryKey)) return;
    auto style = registry.readValue(Hive::CurrentUser, registryKey, styleValueName());
    if (!style) return;
    const std::string where =
        "Invalid data in registry entry \"" + registryKey + "\\" + styleValueName() + "\"";
    try {
        settings().applyStyleString(style->data);
        auto keys = registry.readValue(Hive::CurrentUser, registryKey, keysValueName());
        if (keys && keys->data.find(kKeyMarker) != std::string::npos && keys->data.size() >= 9) {
            // Read into a scratch map first so that a damaged value leaves the map whole.
            editor::TKeyboardActionContoller loaded;
            editor::BinaryReader in(std::string_view(keys->data).substr(9));
            loaded.loadFromStream(in);
            settings().keys.assign(loaded);
        }
    } catch (const std::exception&) {
        throw ECodeMemo(where);
    }
    if (onSettingsChanged) onSettingsChanged(*this);
    ReapplyToEditors();
}

} // namespace morvane::highlight
