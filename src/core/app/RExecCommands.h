#pragma once
// Remote commands of Tools > RExec: a command line run on a server, with placeholders for the
// remote directory and files it works on. Stored as "RExec commands\<n>" (n = 0, 1, 2 ... in
// menu order) below the per-user root.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::platform {
class Registry;
}

namespace morvane::app {

inline constexpr const char* kRExecCommandsKey = "Software\\Orvandel\\Morvane\\2.1\\RExec commands";

// Where the host, user and password of a run come from.
enum TRExecAccountType : std::uint8_t {
    raOpenFile = 0,  // the active remote document
    raAccount = 1,   // the account named in Account
    raSelectOne = 2, // an account chosen when the command runs
};

struct TRExecCommand {
    std::string Name = "Untitled command";
    std::string Command;
    bool ClearOutput = true;
    std::string Shortcut = "(None)"; // as text, "Ctrl+Shift+R"; "(None)" for no key
    std::string Account;             // used with raAccount only
    TRExecAccountType AccountType = raOpenFile;

    bool operator==(const TRExecCommand&) const = default;
};

// "RExec commands\<n>" for n from 0 to the number of subkeys minus 1.
std::vector<TRExecCommand> loadRExecCommands(platform::Registry& registry);
std::optional<TRExecCommand> loadRExecCommand(platform::Registry& registry, int n);
// Replaces the whole key by the list in one write: entry i becomes "RExec commands\<i>".
bool saveRExecCommands(platform::Registry& registry, const std::vector<TRExecCommand>& commands);

// Which placeholders a command line holds (without regard to case).
bool usesFiles(std::string_view command);     // "%f" or "%n"
bool usesDirectory(std::string_view command); // "%d"

// The command line with "%d" replaced by directory (which ends with the server's separator),
// "%f" by directory + fileName and "%n" by directory + fileName without its last extension.
// One pass: text put in is never scanned again, so a directory holding "%f" stays as it is.
// Inserted text that holds anything but letters, digits and "/._-+,:@=~%" is quoted for a POSIX
// shell, in the way the quotes around the placeholder need: outside quotes it gets single quotes,
// inside single quotes a "'" closes and reopens them, inside double quotes \ " $ ` get a
// backslash. So "cat %f" and "cat \"%f\"" both reach the file "a b.txt" as one word.
std::string expandPlaceholders(std::string_view command, std::string_view directory,
                               std::string_view fileName);

// The name without its last extension: "page.old.html" -> "page.old"; a name with no "." or
// only a leading one (".profile") is kept whole.
std::string withoutExtension(std::string_view fileName);

} // namespace morvane::app
