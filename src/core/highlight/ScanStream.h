#pragma once
// The character stream the highlighting engine reads: a text (line breaks are CR) and a position.
// Nothing moves the position outside 0..size, so no reader can run past the end of the text.

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace morvane::highlight {

class TScanStream {
public:
    explicit TScanStream(std::string_view text, std::size_t pos = 0)
        : text_(text), pos_(std::min(pos, text.size())) {}

    std::string_view text() const { return text_; }
    std::size_t position() const { return pos_; }
    void setPosition(std::size_t pos) { pos_ = std::min(pos, text_.size()); }
    bool atEnd() const { return pos_ >= text_.size(); }
    // The character under the stream, or -1 at the end.
    int current() const {
        return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : -1;
    }
    // The character n places ahead, or -1 past the end.
    int peek(std::size_t n) const {
        return pos_ + n < text_.size() ? static_cast<unsigned char>(text_[pos_ + n]) : -1;
    }
    void advance() {
        if (pos_ < text_.size()) ++pos_;
    }
    void back() {
        if (pos_ > 0) --pos_;
    }

private:
    std::string_view text_;
    std::size_t pos_;
};

} // namespace morvane::highlight
