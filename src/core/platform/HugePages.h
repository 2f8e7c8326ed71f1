#pragma once

#include <cstddef>

namespace morvane::platform {

// Asks the system to back the whole 2 MB pages inside [data, data + size) with huge pages.
// A large buffer that is filled once and read once (a document's bytes on their way to a
// server) then takes a fault per 2 MB instead of per 4 KB and misses the TLB far less.
// Best left to buffers not yet written; does nothing for small ones or where the system has
// no huge pages.
void AdviseHugePages(void* data, std::size_t size);

} // namespace morvane::platform
