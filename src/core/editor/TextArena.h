#pragma once
// Memory for the text blocks a load fills. A load of a big file writes every byte into fresh
// memory, and taking that memory from the system a small page at a time costs more than reading
// the file. The arena hands out fixed slots carved from large aligned regions that the system may
// back with huge pages, so a gigabyte is faulted in a few hundred steps instead of a quarter
// million. A region goes back to the system once all its slots are free.

#include <cstddef>
#include <memory>
#include <string>

namespace morvane::editor {

namespace text_arena {
// Requests of exactly this many bytes come from the arena; every other size from the heap.
inline constexpr std::size_t kSlotRequest = 64 * 1024 - 31;

void* Get();
void Put(void* p);
// Slots handed out and regions held, for tests.
std::size_t SlotsInUse();
std::size_t Regions();
} // namespace text_arena

// An allocator for block strings: the arena for a load block's buffer, the heap otherwise.
template <class T> struct TBlockAllocator {
    using value_type = T;
    TBlockAllocator() = default;
    template <class U> TBlockAllocator(const TBlockAllocator<U>&) {}
    T* allocate(std::size_t n) {
        if (sizeof(T) == 1 && n == text_arena::kSlotRequest)
            return static_cast<T*>(text_arena::Get());
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n) {
        if (sizeof(T) == 1 && n == text_arena::kSlotRequest)
            text_arena::Put(p);
        else
            std::allocator<T>().deallocate(p, n);
    }
    template <class U> bool operator==(const TBlockAllocator<U>&) const { return true; }
};

using TBlockText = std::basic_string<char, std::char_traits<char>, TBlockAllocator<char>>;

} // namespace morvane::editor
