#pragma once
// Turning the lines of a LIST reply into directory entries (long listings of Unix-like servers).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace morvane::net {

struct TDirectoryEntry {
    std::string Name;
    std::string Date; // three words as the server wrote them
    std::int64_t Size = 0;
    std::int32_t Kind = 0; // 1 directory or symbolic link, 0 anything else
    std::string Owner;
    std::string Group;
    std::string Attributes;
};

// Parses one listing line (without its line end). False when the line is not an entry.
bool ParseListLine(std::string_view line, TDirectoryEntry& entry);

// The incremental parser of one listing. Lines are taken from the front of the buffer as they
// complete; an entry is reported once the next line shows that its name did not go on over a
// line break.
class TListingParser {
public:
    using Report = std::function<void(const TDirectoryEntry&)>;

    void Reset();
    // Consumes the complete lines of buffer. systemType: 0/1 Unix-like, 2 OS/400, 3 VMS.
    void Parse(std::string& buffer, std::uint8_t systemType, const Report& report);
    // The listing has ended: reports what is still held back.
    void Finish(const Report& report);
    int LineCount() const { return lines_; }

private:
    int lines_ = 0;
    std::uint64_t generation_ = 0;
    std::optional<TDirectoryEntry> held_;
};

} // namespace morvane::net
