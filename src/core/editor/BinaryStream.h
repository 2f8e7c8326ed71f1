#pragma once
// Little-endian writer and reader over byte strings, for the stores' stream forms. The reader
// never reads past its end: a short read raises EStreamError.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace morvane::editor {

class EStreamError : public std::runtime_error {
public:
    explicit EStreamError(const std::string& message) : std::runtime_error(message) {}
};

class BinaryWriter {
public:
    explicit BinaryWriter(std::string& out) : out_(out) {}
    void u8(std::uint8_t v) { out_.push_back(char(v)); }
    void u16(std::uint16_t v) {
        u8(std::uint8_t(v));
        u8(std::uint8_t(v >> 8));
    }
    void i32(std::int32_t v) { u32(std::uint32_t(v)); }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            u8(std::uint8_t(v >> (8 * i)));
    }
    void bytes(std::string_view b) { out_.append(b); }
    // A string with a 32-bit length.
    void str32(std::string_view s) {
        u32(std::uint32_t(s.size()));
        bytes(s);
    }
    // A string with a one-byte length; longer texts are cut to 255 bytes.
    void str8(std::string_view s) {
        if (s.size() > 255) s = s.substr(0, 255);
        u8(std::uint8_t(s.size()));
        bytes(s);
    }

private:
    std::string& out_;
};

class BinaryReader {
public:
    explicit BinaryReader(std::string_view in) : in_(in) {}
    std::uint8_t u8() {
        need(1);
        return std::uint8_t(in_[pos_++]);
    }
    std::uint16_t u16() {
        need(2);
        std::uint16_t v = std::uint8_t(in_[pos_]) | std::uint16_t(std::uint8_t(in_[pos_ + 1]) << 8);
        pos_ += 2;
        return v;
    }
    std::uint32_t u32() {
        need(4);
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= std::uint32_t(std::uint8_t(in_[pos_ + i])) << (8 * i);
        pos_ += 4;
        return v;
    }
    std::int32_t i32() { return std::int32_t(u32()); }
    std::string bytes(std::size_t n) {
        need(n);
        std::string s(in_.substr(pos_, n));
        pos_ += n;
        return s;
    }
    // A length read from the data is checked against what is left before anything is allocated.
    std::string str32() { return bytes(u32()); }
    std::string str8() { return bytes(u8()); }

    std::size_t pos() const { return pos_; }
    std::size_t left() const { return in_.size() - pos_; }
    bool atEnd() const { return pos_ >= in_.size(); }

private:
    void need(std::size_t n) const {
        if (n > in_.size() - pos_) throw EStreamError("Stream read error");
    }
    std::string_view in_;
    std::size_t pos_ = 0;
};

} // namespace morvane::editor
