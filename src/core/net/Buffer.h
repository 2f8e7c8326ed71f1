#pragma once
// One block of a socket's send queue.

#include <cstddef>
#include <string_view>
#include <vector>

namespace morvane::net {

class TBuffer {
public:
    static constexpr int DefaultSize = 1514;

    explicit TBuffer(int size = DefaultSize) { SetSize(size); }

    int Size() const { return static_cast<int>(data_.size()); }
    // Reallocates; written bytes survive when they still fit.
    void SetSize(int size);

    // Copies as many bytes as fit and returns that number.
    int Write(const char* data, int len);
    // The unread part.
    std::string_view Peek() const { return {data_.data() + rd_, std::size_t(wr_ - rd_)}; }
    // Advances the read count; both counts go back to 0 once everything is read.
    void Remove(int len);

    int DataLength() const { return wr_ - rd_; }
    bool Empty() const { return wr_ == rd_; }
    bool Full() const { return wr_ == Size(); }

private:
    std::vector<char> data_;
    int wr_ = 0;
    int rd_ = 0;
};

} // namespace morvane::net
