// Storage of the large arrays (orbitals, densities, the Hessian). Freed
// blocks of glibc's are unmapped, and a new block's pages are faulted in and
// zeroed by the kernel again, 4 KiB at a time: loading file after file spent
// more time on that than on reading. Large buffers of readers that are gone
// therefore wait in a small pool for the next load, and new ones ask for huge
// pages before they are first touched.
#pragma once

#include <cstddef>
#include <vector>

namespace bulk {

// Arrays of at least this many items are pooled and advised for huge pages.
constexpr size_t kMinItems = size_t{1} << 17;  // 1 MiB of doubles

// A vector for n items: from the pool, n items of whatever an earlier array
// held, to be overwritten (resident memory, read into directly); otherwise
// empty with room for n, whose pages the first write brings in.
std::vector<double> take(size_t n);

// Keeps the buffer of v for a later take (within the pool's bounds); v is left
// empty either way.
void give(std::vector<double>& v);

// Asks for huge pages over the whole 2 MiB pages of [p, p + bytes).
void advise_huge(const void* p, size_t bytes);

}  // namespace bulk
