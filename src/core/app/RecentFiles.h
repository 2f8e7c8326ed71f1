#pragma once
// The recent-files list under Recent: entries numbered from 1 (the most recent), each the three
// texts "Account" + n, "Directory" + n and "Filename" + n; an empty account marks a local file
// whose directory ends in "/".

#include "core/platform/Registry.h"

#include <string>
#include <vector>

namespace morvane::app {

inline constexpr const char* kRecentKey = "Software\\Orvandel\\Morvane\\2.1\\Recent";
inline constexpr int kMaxRecent = 36; // one accelerator per entry: &0-&9, &A-&Z

struct TRecentEntry {
    int number = 0; // 1 is the most recent
    std::string account, directory, fileName;
};

class TRecentFiles {
public:
    explicit TRecentFiles(platform::Registry& registry) : registry_(registry) {}

    // "NumRecent" of the Settings key (a double word, or a number as text): 4 when absent or
    // unreadable, clamped to 0..36.
    int Count() const;
    // Enters a file at the top: a listed one moves up, a new one pushes the oldest out;
    // "Quick-connect" is never entered. False (error = "Unable to write to the registry.") when
    // the list could not be written; it is then unchanged.
    bool Add(const std::string& account, const std::string& directory, const std::string& fileName,
             std::string* error = nullptr);
    // Entry n, read as stored; its fileName is empty when the entry is missing.
    TRecentEntry Entry(int n) const;
    // The entries a menu lists: 1 to Count(), without those whose file name is empty.
    std::vector<TRecentEntry> MenuEntries() const;

    // The menu caption: the accelerator, a blank, then account:directory:file or
    // (local):directory:file, with "&" doubled so it shows as itself.
    static std::string Caption(const TRecentEntry& entry);

private:
    platform::Registry& registry_;
};

} // namespace morvane::app
