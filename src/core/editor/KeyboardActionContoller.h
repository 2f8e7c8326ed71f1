#pragma once
// TKeyboardActionContoller: the key map. Command names plus a TKeyStore of one- and two-key
// bindings; saved and loaded in a little-endian stream form that the highlighter settings keep.

#include "core/editor/BinaryStream.h"
#include "core/editor/KeyStore.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

namespace morvane::editor {

class EKeyControllerException : public std::runtime_error {
public:
    explicit EKeyControllerException(const std::string& message) : std::runtime_error(message) {}
};

class EAmbigiousKeyPair : public EKeyControllerException {
public:
    using EKeyControllerException::EKeyControllerException;
};

// Shift state bits passed to processKey and the trigger tests.
inline constexpr unsigned ssShift = 1;
inline constexpr unsigned ssCtrl = 2;
inline constexpr unsigned ssAlt = 4;

class TKeyboardActionContoller {
public:
    TKeyboardActionContoller() = default;

    // The built-in default map (45 commands); one instance for the whole program.
    static const TKeyboardActionContoller& globalDefault();
    void loadDefaults();
    // The desktop map: the classic one with the keys of today's desktop editors (Ctrl+Y
    // redo, Ctrl+D duplicate, Ctrl+/ comment, Alt+Up/Down move lines, Ctrl+Shift+K delete lines)
    // and the whole-line commands named.
    static const TKeyboardActionContoller& globalDesktop();
    void loadDesktopDefaults();

    // Raises EAmbigiousKeyPair when the sequence collides with an existing binding.
    void addBinding(std::uint16_t first, std::uint16_t second, std::int32_t command);
    void setCommandName(std::int32_t command, const std::string& name);
    std::string commandName(std::int32_t command) const;
    const std::vector<std::pair<std::int32_t, std::string>>& commandNames() const { return names_; }

    // First binding of a command in tree order; false when it has none.
    bool findKeys(std::int32_t command, std::uint16_t& first, std::uint16_t& second);
    // The binding after the one returned last by findKeys/findNextKeys.
    bool findNextKeys(std::int32_t command, std::uint16_t& first, std::uint16_t& second);
    // Every binding (first, second) in tree order.
    std::vector<std::tuple<std::uint16_t, std::uint16_t, std::int32_t>> bindings() const;

    void clear();
    void assign(const TKeyboardActionContoller& other);

    void saveToStream(BinaryWriter& out) const;
    std::string saveToString() const;
    // Clears first; a short stream raises EStreamError keeping the bindings read so far.
    void loadFromStream(BinaryReader& in);

    // One key down: key is the virtual key code, shift a ShiftState combination. On
    // Result::Command, command and extend (extend the selection) are set.
    TKeyStore::Result processKey(std::uint16_t key, unsigned shift, std::int32_t& command,
                                 bool& extend);
    void resetLookup() { store_.resetPosition(); }
    // The first key of a two-key sequence has been pressed.
    bool prefixPending() const { return store_.atPrefix(); }
    // Whether a key (a shortcut value) would finish the pending sequence.
    bool continuesSequence(std::uint16_t shortcut) const {
        return store_.continuesSequence(shortcut);
    }

    bool operator==(const TKeyboardActionContoller& o) const;

private:
    bool findFrom(std::int32_t command, std::int32_t after, std::uint16_t& first,
                  std::uint16_t& second);
    [[noreturn]] void ambiguous(std::int32_t existing, std::int32_t added) const;

    TKeyStore store_;
    std::vector<std::pair<std::int32_t, std::string>> names_;
    std::unordered_map<std::int32_t, std::size_t> nameIndex_; // command -> position in names_
    std::int32_t lastFound_ = -1;
};

} // namespace morvane::editor
