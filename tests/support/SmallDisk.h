#pragma once
// A small tmpfs mounted over a folder for the life of a test: a disk that fills up, or that
// can be made read-only. Mounting needs root; mounted() says whether it worked.

#include <filesystem>
#include <string>
#include <sys/mount.h>

namespace morvane::testing {

class SmallDisk {
public:
    explicit SmallDisk(const std::filesystem::path& at, const std::string& size = "256k")
        : at_(at), size_(size) {
        std::filesystem::create_directories(at);
        mounted_ =
            ::mount("tmpfs", at.c_str(), "tmpfs", 0, ("size=" + size + ",mode=0777").c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    bool makeReadOnly() {
        return ::mount("tmpfs", at_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY,
                       ("size=" + size_).c_str()) == 0;
    }

private:
    std::filesystem::path at_;
    std::string size_;
    bool mounted_ = false;
};

} // namespace morvane::testing
