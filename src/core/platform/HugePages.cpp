#include "core/platform/HugePages.h"

#include <cstdint>
#include <sys/mman.h>

namespace morvane::platform {

void AdviseHugePages(void* data, std::size_t size) {
    constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
    if (!data || size < 2 * kHuge) return;
    auto from = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
    auto to = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHuge - 1);
    if (to <= from) return;
    // Only a hint: a kernel without transparent huge pages refuses it, and 4 KB pages do.
    ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

} // namespace morvane::platform
