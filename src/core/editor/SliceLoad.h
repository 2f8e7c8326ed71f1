#pragma once
// TSliceLoad: a file read into a control a slice at a time, so that whoever drives it (an event
// loop) can paint, show progress and stop in between. The file is opened once and read from that
// descriptor only; a file that shrinks or fails to read while loading leaves no document behind.

#include "core/editor/Streams.h"
#include "core/platform/FileIdentity.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace morvane::editor {

class TCustomCodeMemo;

// The memory the system reports as available (MemAvailable), or nothing when it cannot tell.
// MORVANE_AVAILABLE_MEMORY (bytes) stands in for it in tests.
std::optional<std::uint64_t> AvailableMemory();
// "812 bytes", "37.4 MB", "30.2 GB" (decimal units, one decimal).
std::string SizeText(std::uint64_t bytes);
// Empty when a file of that size fits in the available memory; otherwise the refusal to show.
std::string TooBigForMemory(const std::string& name, std::uint64_t size);

class TSliceLoad {
public:
    enum class State { Reading, Done, Failed, Cancelled };

    // Opens path for reading without blocking (a FIFO is refused, not waited on) and checks its
    // size against the available memory. Null with the message in error when it cannot be
    // loaded; the control is untouched then.
    static std::unique_ptr<TSliceLoad> Open(TCustomCodeMemo& memo, const std::string& path,
                                            std::string& error);
    // Reads stream into memo; size is what the file held when opened (0: read to the end).
    // The control's text is emptied now.
    TSliceLoad(TCustomCodeMemo& memo, std::unique_ptr<TStream> stream, std::uint64_t size,
               std::string name);
    // A load that has not finished is abandoned.
    ~TSliceLoad();
    TSliceLoad(const TSliceLoad&) = delete;
    TSliceLoad& operator=(const TSliceLoad&) = delete;

    // Reads and loads up to `bytes` more (at least one read). True while there is more to read;
    // on the last read the text is finished (Done) or abandoned (Failed, with Error()).
    bool Step(std::size_t bytes);
    // Stops the load where it is; the control keeps only a part, which must not be kept.
    void Cancel();

    State Status() const { return state_; }
    const std::string& Error() const { return error_; }
    std::uint64_t BytesRead() const { return read_; }
    std::uint64_t Size() const { return size_; }
    const std::string& Name() const { return name_; }
    // The opened file's identity when Open made it (not the file its name leads to later).
    const platform::FileIdentity& Identity() const { return identity_; }
    // 0..100; 0 while the size is unknown.
    int Percent() const;

private:
    void Fail(const std::string& message);
    void Finish();

    TCustomCodeMemo& memo_;
    std::unique_ptr<TStream> stream_;
    std::uint64_t size_;
    std::uint64_t read_ = 0;
    std::string name_;
    std::string buffer_;
    State state_ = State::Reading;
    std::string error_;
    platform::FileIdentity identity_;
};

} // namespace morvane::editor
