#include "core/editor/TextArena.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <vector>

namespace morvane::editor::text_arena {

namespace {
constexpr std::size_t kSlot = 64 * 1024;
constexpr std::size_t kRegion = 2 * 1024 * 1024; // one huge page
constexpr std::size_t kSlots = kRegion / kSlot;  // 32: one bit each in a region's mask
static_assert(kSlotRequest <= kSlot && kSlots == 32);

struct Region {
    char* base;
    std::uint32_t used; // bit i: slot i is handed out
};

class Arena {
public:
    void* Get() {
        std::lock_guard lock(mutex_);
        for (std::size_t r = hint_; r < regions_.size(); ++r) {
            if (regions_[r].used == ~0u) continue;
            hint_ = r;
            return Take(regions_[r]);
        }
        char* base = Map();
        if (!base) throw std::bad_alloc();
        auto it = std::lower_bound(regions_.begin(), regions_.end(), base,
                                   [](const Region& g, char* b) { return g.base < b; });
        it = regions_.insert(it, {base, 0});
        hint_ = std::min(hint_, static_cast<std::size_t>(it - regions_.begin()));
        return Take(*it);
    }

    void Put(void* p) {
        std::lock_guard lock(mutex_);
        auto* base = reinterpret_cast<char*>(reinterpret_cast<std::uintptr_t>(p) & ~(kRegion - 1));
        auto it = std::lower_bound(regions_.begin(), regions_.end(), base,
                                   [](const Region& g, char* b) { return g.base < b; });
        if (it == regions_.end() || it->base != base) return; // not ours: nothing sane to do
        const auto slot = static_cast<std::size_t>(static_cast<char*>(p) - base) / kSlot;
        it->used &= ~(1u << slot);
        const auto r = static_cast<std::size_t>(it - regions_.begin());
        if (it->used == 0) {
            ::munmap(base, kRegion);
            regions_.erase(it);
            if (hint_ > r) --hint_;
        } else {
            hint_ = std::min(hint_, r);
        }
    }

    std::size_t SlotsInUse() {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (auto& g : regions_)
            n += static_cast<std::size_t>(__builtin_popcount(g.used));
        return n;
    }
    std::size_t Regions() {
        std::lock_guard lock(mutex_);
        return regions_.size();
    }

private:
    static void* Take(Region& g) {
        const int slot = __builtin_ctz(~g.used);
        g.used |= 1u << slot;
        return g.base + static_cast<std::size_t>(slot) * kSlot;
    }
    // A region aligned to its size, so that the system can back it with one huge page.
    static char* Map() {
        void* raw = ::mmap(nullptr, 2 * kRegion, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED) return nullptr;
        auto start = reinterpret_cast<std::uintptr_t>(raw);
        auto aligned = (start + kRegion - 1) & ~(kRegion - 1);
        if (aligned > start) ::munmap(raw, aligned - start);
        const std::uintptr_t tail = start + 2 * kRegion - (aligned + kRegion);
        if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + kRegion), tail);
        auto* base = reinterpret_cast<char*>(aligned);
        ::madvise(base, kRegion, MADV_HUGEPAGE);
        return base;
    }

    std::mutex mutex_;
    std::vector<Region> regions_; // ascending by base
    std::size_t hint_ = 0;        // no region before it has a free slot
};

// Never destroyed: blocks held by objects with static lifetime may be freed after main.
Arena& TheArena() {
    static Arena* arena = new Arena;
    return *arena;
}
} // namespace

void* Get() {
    return TheArena().Get();
}
void Put(void* p) {
    TheArena().Put(p);
}
std::size_t SlotsInUse() {
    return TheArena().SlotsInUse();
}
std::size_t Regions() {
    return TheArena().Regions();
}

} // namespace morvane::editor::text_arena
