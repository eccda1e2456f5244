// vxlconv's operator new in builds with the address checker. Such builds
// cannot cap the address space, so the memory cap is kept on the heap: each
// request first asks platform/heap_cap and fails with std::bad_alloc past
// the cap, as it fails at the address-space limit in other builds. The
// checker's own operator new, the next definition in the search order (GCC
// links its runtime as a shared library), then allocates, so its checks of
// new and delete pairs stay whole. Other builds leave operator new alone.
#include "platform/address_sanitizer.h"

#if defined(VOXSCOPE_ADDRESS_SANITIZER) && !defined(__clang__)
#include "platform/heap_cap.h"

#include <cstdlib>
#include <dlfcn.h>
#include <new>

namespace {

// The next definition of the operator with this mangled name.
template <typename Operator> Operator nextOperator(const char* name) {
    Operator found = reinterpret_cast<Operator>(dlsym(RTLD_NEXT, name));
    if (!found)
        abort(); // no runtime to allocate with: nothing sensible can go on
    return found;
}

using Plain = void* (*)(size_t);
using Nothrow = void* (*)(size_t, const std::nothrow_t&);
using Aligned = void* (*)(size_t, std::align_val_t);
using AlignedNothrow = void* (*)(size_t, std::align_val_t, const std::nothrow_t&);

void refuseBeyondCap(size_t bytes) {
    if (!heapCapAllows(bytes))
        throw std::bad_alloc();
}

} // namespace

void* operator new(size_t bytes) {
    static const Plain next = nextOperator<Plain>("_Znwm");
    refuseBeyondCap(bytes);
    return next(bytes);
}

void* operator new[](size_t bytes) {
    static const Plain next = nextOperator<Plain>("_Znam");
    refuseBeyondCap(bytes);
    return next(bytes);
}

void* operator new(size_t bytes, const std::nothrow_t& tag) noexcept {
    static const Nothrow next = nextOperator<Nothrow>("_ZnwmRKSt9nothrow_t");
    return heapCapAllows(bytes) ? next(bytes, tag) : nullptr;
}

void* operator new[](size_t bytes, const std::nothrow_t& tag) noexcept {
    static const Nothrow next = nextOperator<Nothrow>("_ZnamRKSt9nothrow_t");
    return heapCapAllows(bytes) ? next(bytes, tag) : nullptr;
}

void* operator new(size_t bytes, std::align_val_t alignment) {
    static const Aligned next = nextOperator<Aligned>("_ZnwmSt11align_val_t");
    refuseBeyondCap(bytes);
    return next(bytes, alignment);
}

void* operator new[](size_t bytes, std::align_val_t alignment) {
    static const Aligned next = nextOperator<Aligned>("_ZnamSt11align_val_t");
    refuseBeyondCap(bytes);
    return next(bytes, alignment);
}

void* operator new(size_t bytes, std::align_val_t alignment, const std::nothrow_t& tag) noexcept {
    static const AlignedNothrow next =
        nextOperator<AlignedNothrow>("_ZnwmSt11align_val_tRKSt9nothrow_t");
    return heapCapAllows(bytes) ? next(bytes, alignment, tag) : nullptr;
}

void* operator new[](size_t bytes, std::align_val_t alignment, const std::nothrow_t& tag) noexcept {
    static const AlignedNothrow next =
        nextOperator<AlignedNothrow>("_ZnamSt11align_val_tRKSt9nothrow_t");
    return heapCapAllows(bytes) ? next(bytes, alignment, tag) : nullptr;
}
#endif
