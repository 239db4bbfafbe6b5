// Replaces the global allocation functions for a test binary, counting each
// allocation, so that a test can show a piece of code allocates nothing.
// Kept in its own file so the compiler never sees the replacement and its
// callers together.
#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

namespace track {
long AllocationCount() { return g_allocations.load(std::memory_order_relaxed); }
}  // namespace track

void* operator new(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
