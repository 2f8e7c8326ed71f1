#include "core/net/Buffer.h"

#include <algorithm>
#include <cstring>

namespace morvane::net {

void TBuffer::SetSize(int size) {
    if (size <= 0) size = DefaultSize;
    if (Empty()) {
        wr_ = rd_ = 0;
        data_.assign(std::size_t(size), 0);
        return;
    }
    std::vector<char> fresh(std::size_t(size), 0);
    int keep = std::min(DataLength(), size);
    std::memcpy(fresh.data(), data_.data() + rd_, std::size_t(keep));
    data_.swap(fresh);
    rd_ = 0;
    wr_ = keep;
}

int TBuffer::Write(const char* data, int len) {
    int n = std::clamp(Size() - wr_, 0, std::max(len, 0));
    if (n > 0) std::memcpy(data_.data() + wr_, data, std::size_t(n));
    wr_ += n;
    return n;
}

void TBuffer::Remove(int len) {
    rd_ += std::clamp(len, 0, DataLength());
    if (rd_ == wr_) rd_ = wr_ = 0;
}

} // namespace morvane::net
