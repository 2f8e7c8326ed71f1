#include "core/app/RExecCommands.h"

#include "core/platform/Registry.h"

#include <cctype>

namespace morvane::app {

using platform::Hive;
using platform::RegValue;

namespace {

std::string keyOf(int n) {
    return std::string(kRExecCommandsKey) + "\\" + std::to_string(n);
}

bool hasPlaceholder(std::string_view command, char letter) {
    for (std::size_t i = 0; i + 1 < command.size(); ++i)
        if (command[i] == '%' && std::tolower(static_cast<unsigned char>(command[i + 1])) == letter)
            return true;
    return false;
}

bool plainWord(std::string_view text) {
    if (text.empty()) return true; // nothing to quote
    for (unsigned char c : text)
        if (!std::isalnum(c) &&
            std::string_view("/._-+,:@=~%").find(char(c)) == std::string_view::npos)
            return false;
    return true;
}

enum class Quote { None, Single, Double };

std::string quoted(std::string_view text, Quote context) {
    if (plainWord(text)) return std::string(text);
    std::string out;
    switch (context) {
    case Quote::None:
        out = "'";
        for (char c : text)
            out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        out += "'";
        break;
    case Quote::Single:
        for (char c : text)
            out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        break;
    case Quote::Double:
        for (char c : text) {
            if (c == '\\' || c == '"' || c == '$' || c == '`') out += '\\';
            out += c;
        }
        break;
    }
    return out;
}

} // namespace

std::optional<TRExecCommand> loadRExecCommand(platform::Registry& registry, int n) {
    const std::string key = keyOf(n);
    if (!registry.keyExists(Hive::CurrentUser, key)) return std::nullopt;
    auto read = [&](const char* name) { return registry.readValue(Hive::CurrentUser, key, name); };
    auto text = [&](const char* name) -> std::string {
        auto v = read(name);
        return v && v->isString() ? v->data : std::string();
    };
    auto number = [&](const char* name) -> std::optional<std::uint32_t> {
        auto v = read(name);
        return v ? v->asDword() : std::nullopt;
    };
    TRExecCommand c;
    c.Name = text("");
    c.Command = text("Command");
    if (auto v = read("Shortcut"); v && v->isString()) c.Shortcut = v->data;
    c.ClearOutput = number("Clear output") == 1u;
    auto type = number("AccountType");
    c.AccountType = type && *type <= 2 ? TRExecAccountType(*type) : raOpenFile;
    if (c.AccountType == raAccount) c.Account = text("Account");
    return c;
}

std::vector<TRExecCommand> loadRExecCommands(platform::Registry& registry) {
    std::vector<TRExecCommand> commands;
    const auto count = registry.subKeyNames(Hive::CurrentUser, kRExecCommandsKey).size();
    for (std::size_t n = 0; n < count; ++n)
        if (auto c = loadRExecCommand(registry, int(n))) commands.push_back(std::move(*c));
    return commands;
}

bool saveRExecCommands(platform::Registry& registry, const std::vector<TRExecCommand>& commands) {
    std::vector<platform::RegSubkey> keys;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const TRExecCommand& c = commands[i];
        platform::RegValueList values{{"", RegValue::string(c.Name)},
                                      {"Command", RegValue::string(c.Command)},
                                      {"Shortcut", RegValue::string(c.Shortcut)},
                                      {"Clear output", RegValue::dword(c.ClearOutput ? 1 : 0)},
                                      {"AccountType", RegValue::dword(c.AccountType)}};
        if (c.AccountType == raAccount) values.push_back({"Account", RegValue::string(c.Account)});
        keys.push_back({std::to_string(i), std::move(values)});
    }
    return registry.replaceKey(Hive::CurrentUser, kRExecCommandsKey, keys);
}

bool usesFiles(std::string_view command) {
    return hasPlaceholder(command, 'f') || hasPlaceholder(command, 'n');
}

bool usesDirectory(std::string_view command) {
    return hasPlaceholder(command, 'd');
}

std::string withoutExtension(std::string_view fileName) {
    std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::string(fileName);
    return std::string(fileName.substr(0, dot));
}

std::string expandPlaceholders(std::string_view command, std::string_view directory,
                               std::string_view fileName) {
    std::string out;
    Quote quote = Quote::None;
    for (std::size_t i = 0; i < command.size(); ++i) {
        char c = command[i];
        if (c == '%' && i + 1 < command.size()) {
            char letter = char(std::tolower(static_cast<unsigned char>(command[i + 1])));
            std::string value;
            if (letter == 'd')
                value = std::string(directory);
            else if (letter == 'f')
                value = std::string(directory) + std::string(fileName);
            else if (letter == 'n')
                value = std::string(directory) + withoutExtension(fileName);
            if (letter == 'd' || letter == 'f' || letter == 'n') {
                out += quoted(value, quote);
                ++i;
                continue;
            }
        }
        // Track the shell's quoting so that inserted text is quoted to fit where it stands.
        if (c == '\\' && quote != Quote::Single && i + 1 < command.size()) {
            out += c;
            out += command[++i];
            continue;
        }
        if (c == '\'' && quote != Quote::Double)
            quote = quote == Quote::Single ? Quote::None : Quote::Single;
        else if (c == '"' && quote != Quote::Single)
            quote = quote == Quote::Double ? Quote::None : Quote::Double;
        out += c;
    }
    return out;
}

} // namespace morvane::app
