#include "core/app/AppRegistry.h"

namespace morvane::app {

using platform::Hive;
using platform::RegValue;

bool singleInstanceEnabled(platform::Registry& registry) {
    if (!registry.keyExists(Hive::CurrentUser, kSettingsKey)) return true;
    auto v = registry.readValue(Hive::CurrentUser, kSettingsKey, "One instance only");
    return !(v && v->isString() && v->data == "False");
}

bool installDefaultWeblinks(platform::Registry& registry,
                            const std::filesystem::path& programFolder) {
    struct Link {
        const char* caption;
        const char* file;
        const char* language;
        std::uint32_t shortcut;
    };
    static const Link links[] = {{"HTML on-line help", "HTML weblinks.txt", "HTML", 112},  // F1
                                 {"Perl on-line help", "Perl weblinks.txt", "Perl", 113}}; // F2
    std::string folder = programFolder.string();
    if (folder.empty() || folder.back() != '/') folder += '/';
    bool ok = true;
    for (int n = 0; n < 2; ++n) {
        const Link& l = links[n];
        std::string key = std::string(kWeblinksKey) + "\\" + std::to_string(n);
        ok = ok && registry.createKey(Hive::CurrentUser, key) &&
             registry.writeValue(Hive::CurrentUser, key, "", RegValue::string(l.caption)) &&
             registry.writeValue(Hive::CurrentUser, key, "Data",
                                 RegValue::string(folder + "Weblinks/" + l.file)) &&
             registry.writeValue(Hive::CurrentUser, key, "Kind", RegValue::dword(1)) &&
             registry.writeValue(Hive::CurrentUser, key, "Languages",
                                 RegValue::string(std::string(l.language) + "\r\n")) &&
             registry.writeValue(Hive::CurrentUser, key, "Shortcut", RegValue::dword(l.shortcut));
    }
    return ok;
}

FirstRunResult performFirstRun(platform::Registry& registry) {
    if (registry.keyExists(Hive::LocalMachine, kMachineRoot)) return FirstRunResult::NotFirstRun;

    // Only the newest old version present is migrated; a move never replaces an existing key.
    if (registry.keyExists(Hive::CurrentUser, kVersion20Root)) {
        registry.moveKey(Hive::CurrentUser, kVersion20Root, Hive::CurrentUser, kPerUserRoot);
        registry.moveKey(Hive::LocalMachine, kVersion20Root, Hive::LocalMachine, kMachineRoot);
    } else if (registry.keyExists(Hive::CurrentUser, kVersion10Root)) {
        registry.moveKey(Hive::CurrentUser, kVersion10Root, Hive::CurrentUser, kPerUserRoot);
    }
    registry.writeValue(Hive::CurrentUser, kSettingsKey, "Show toolbar", RegValue::string("True"));
    if (!registry.createKey(Hive::LocalMachine, kMachineRoot)) return FirstRunResult::CouldNotWrite;
    return FirstRunResult::Done;
}

} // namespace morvane::app
