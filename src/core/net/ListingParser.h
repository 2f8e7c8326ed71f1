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
    std::string LinkTarget; // what a symbolic link's line names after " -> "
};

// Parses one listing line (without its line end). False when the line is not an entry.
bool ParseListLine(std::string_view line, TDirectoryEntry& entry);

// The incremental parser of one listing. Lines are taken from the front of the buffer as they
// complete; an entry is reported once the next line shows whether its name went on over a line
// break. Only a listing whose lines end in CR LF can show that: there an entry line that ends
// in a bare LF has a name with a line break in it, and the lines up to the next CR LF are the
// rest of that name. Such an entry is dropped (its name could never be sent to the server);
// any other line that is no entry is skipped. A line longer than MaxLine is skipped as it
// arrives, so a listing without line breaks holds at most that much.
class TListingParser {
public:
    static constexpr std::size_t MaxLine = 64 * 1024;

    // Returns false to stop at once: the parser and the buffer are not touched again.
    using Report = std::function<bool(const TDirectoryEntry&)>;

    void Reset();
    // Consumes the complete lines of buffer. systemType: 0/1 Unix-like, 2 OS/400, 3 VMS.
    // False when a report said to stop.
    bool Parse(std::string& buffer, std::uint8_t systemType, const Report& report);
    // The listing has ended: reports what is still held back.
    bool Finish(const Report& report);
    int LineCount() const { return lines_; }
    // Lines skipped for their length since Reset.
    int SkippedLines() const { return skipped_; }

private:
    bool Line(std::string_view line, bool cr, bool tooLong, std::uint8_t systemType,
              const Report& report);

    int lines_ = 0;
    int skipped_ = 0;
    bool skipping_ = false;  // dropping the rest of a line that grew too long
    bool skippedCr_ = false; // what was dropped of it ended in CR
    bool crlf_ = false;      // a line of this listing ended in CR LF
    bool heldOpen_ = false;  // the held entry's line ended in a bare LF
    bool inName_ = false;    // skipping the rest of a name that held a line break
    std::optional<TDirectoryEntry> held_;
};

} // namespace morvane::net
