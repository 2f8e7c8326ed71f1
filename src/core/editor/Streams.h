#pragma once
// Byte streams the control loads from and saves to.

#include "core/editor/EditorErrors.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace morvane::editor {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;
    // Both return the number of bytes actually moved.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
    virtual std::int64_t Size();
    // Cuts the stream at newSize; false when the stream cannot.
    virtual bool SetSize(std::int64_t newSize);

    std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(std::int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
    void WriteString(std::string_view s) { Write(s.data(), s.size()); }
};

// A growable stream in memory.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string data) : data_(std::move(data)) {}
    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
    bool SetSize(std::int64_t newSize) override;
    const std::string& Data() const { return data_; }

private:
    std::string data_;
    std::size_t pos_ = 0;
};

// A read-only stream over text someone else owns; no copy is made. The length is explicit, so
// a NUL inside the text is read like any other byte.
class TFastMemoryStream : public TStream {
public:
    explicit TFastMemoryStream(std::string_view text) : text_(text) {}
    // For C strings from the message interface, which end at their NUL.
    static TFastMemoryStream FromCString(const char* text);
    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(text_.size()); }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// A file opened for reading (shared) or writing.
class TFileStream : public TStream {
public:
    enum Mode { fmOpenRead, fmCreate };
    // fmOpenRead on a missing, unreadable or non-regular file raises EFOpenError;
    // fmCreate that fails raises EFCreateError.
    TFileStream(const std::string& fileName, Mode mode, unsigned permissions = 0666);
    // Takes over an open descriptor.
    explicit TFileStream(int fd) : fd_(fd) {}
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;
    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override;
    bool SetSize(std::int64_t newSize) override;
    // Flushes to the disk; false with errno set when that failed.
    bool Sync();
    // Closes now; false with errno set when the system reported an error (a late write error
    // of a network file system shows here).
    bool Close();
    int Handle() const { return fd_; }
    // The errno of the last failed write, 0 if none.
    int WriteError() const { return writeError_; }

private:
    int fd_ = -1;
    int writeError_ = 0;
};

} // namespace morvane::editor
