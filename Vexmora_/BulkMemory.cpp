#include "BulkMemory.h"

#include <sys/mman.h>

#include <cstdint>
#include <memory>
#include <mutex>

namespace bulk {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;
// What the pool may hold while no reader uses it: a few loads' worth of a
// medium molecule, not the arrays of a huge one.
constexpr size_t kMaxBytes = size_t{256} << 20;
constexpr size_t kMaxBuffers = 8;

struct Pool {
  std::mutex mu;
  std::vector<std::vector<double>> kept;  // oldest first
  size_t bytes = 0;
};

Pool& pool() {
  // Never destroyed: readers may be freed at interpreter shutdown, after the
  // static destructors ran.
  static Pool* const p = std::make_unique<Pool>().release();
  return *p;
}

size_t bytes_of(const std::vector<double>& v) { return v.capacity() * sizeof(double); }

}  // namespace

void advise_huge(const void* p, size_t bytes) {
  const auto first = reinterpret_cast<uintptr_t>(p);
  const uintptr_t begin = (first + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (first + bytes) & ~(kHugePage - 1);
  // Advice only: where the kernel declines, small pages serve as before.
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

std::vector<double> take(size_t n) {
  std::vector<double> v;
  if (n >= kMinItems) {
    Pool& P = pool();
    const std::lock_guard<std::mutex> lock(P.mu);
    // The smallest buffer that fits, and not one far larger than needed.
    size_t best = P.kept.size();
    for (size_t i = 0; i < P.kept.size(); ++i) {
      const size_t cap = P.kept[i].capacity();
      if (cap >= n && cap / 2 <= n && (best == P.kept.size() || cap < P.kept[best].capacity()))
        best = i;
    }
    if (best < P.kept.size()) {
      v.swap(P.kept[best]);
      P.kept.erase(P.kept.begin() + static_cast<std::ptrdiff_t>(best));
      P.bytes -= bytes_of(v);
      v.resize(n);  // shrinks: no item is written
      return v;
    }
  }
  v.reserve(n);
  if (n >= kMinItems) advise_huge(v.data(), n * sizeof(double));
  return v;
}

void give(std::vector<double>& v) {
  std::vector<double> mine;
  mine.swap(v);
  const size_t b = bytes_of(mine);
  if (mine.capacity() < kMinItems || b > kMaxBytes) return;  // freed as usual
  mine.resize(mine.capacity());  // whole, so that a take only ever shrinks it
  Pool& P = pool();
  const std::lock_guard<std::mutex> lock(P.mu);
  while (!P.kept.empty() && (P.bytes + b > kMaxBytes || P.kept.size() >= kMaxBuffers)) {
    P.bytes -= bytes_of(P.kept.front());
    P.kept.erase(P.kept.begin());  // the oldest goes back to the system
  }
  P.bytes += b;
  P.kept.push_back(std::move(mine));
}

}  // namespace bulk
