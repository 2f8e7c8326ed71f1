#include "core/app/RecentFiles.h"

#include "core/app/AppRegistry.h"
#include "core/app/MainFormSettings.h"
#include "core/net/Account.h"

#include <algorithm>

namespace morvane::app {

using platform::Hive;
using platform::RegValue;

namespace {

std::string escapeAmpersands(const std::string& text) {
    std::string out;
    for (char c : text) {
        out.push_back(c);
        if (c == '&') out.push_back('&');
    }
    return out;
}

} // namespace

int TRecentFiles::Count() const {
    platform::RegKey settings(registry_, Hive::CurrentUser, kSettingsKey);
    std::optional<int> n;
    if (auto v = settings.readDword("NumRecent"))
        n = int(std::min<std::uint32_t>(*v, kMaxRecent));
    else if (settings.valueExists("NumRecent"))
        n = parseInteger(settings.readString("NumRecent"));
    if (!n) return 4;
    return std::clamp(*n, 0, kMaxRecent);
}

TRecentEntry TRecentFiles::Entry(int n) const {
    platform::RegKey key(registry_, Hive::CurrentUser, kRecentKey);
    std::string i = std::to_string(n);
    return {n, key.readString("Account" + i), key.readString("Directory" + i),
            key.readString("Filename" + i)};
}

bool TRecentFiles::Add(const std::string& account, const std::string& directory,
                       const std::string& fileName, std::string* error) {
    if (account == net::kQuickConnectName) return true;
    int count = Count();
    if (count == 0) return true;
    int slot = count;
    for (int n = 1; n <= count; ++n) {
        TRecentEntry e = Entry(n);
        if (e.account == account && e.directory == directory && e.fileName == fileName) slot = n;
    }
    // Entries 1..slot-1 move down one; the new one becomes entry 1; all in one write.
    platform::RegValueList values;
    auto put = [&values](int n, const std::string& a, const std::string& d, const std::string& f) {
        std::string i = std::to_string(n);
        values.emplace_back("Account" + i, RegValue::string(a));
        values.emplace_back("Directory" + i, RegValue::string(d));
        values.emplace_back("Filename" + i, RegValue::string(f));
    };
    for (int a = slot; a >= 2; --a) {
        TRecentEntry e = Entry(a - 1);
        put(a, e.account, e.directory, e.fileName);
    }
    put(1, account, directory, fileName);
    if (registry_.writeValues(Hive::CurrentUser, kRecentKey, values)) return true;
    if (error) *error = "Unable to write to the registry.";
    return false;
}

std::vector<TRecentEntry> TRecentFiles::MenuEntries() const {
    std::vector<TRecentEntry> entries;
    int count = Count();
    for (int n = 1; n <= count; ++n)
        if (TRecentEntry e = Entry(n); !e.fileName.empty()) entries.push_back(std::move(e));
    return entries;
}

std::string TRecentFiles::Caption(const TRecentEntry& entry) {
    std::string caption;
    int n = entry.number;
    if (n >= 1 && n <= 10)
        caption = std::string("&") + char('0' + n - 1);
    else if (n >= 11 && n <= 36)
        caption = std::string("&") + char('A' + n - 11);
    else
        caption = " ";
    caption += ' ';
    std::string where = entry.account.empty() ? "(local)" : entry.account;
    caption += escapeAmpersands(where + ":" + entry.directory + ":" + entry.fileName);
    return caption;
}

} // namespace morvane::app
