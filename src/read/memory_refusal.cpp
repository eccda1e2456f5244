#include "read/memory_refusal.h"

#include <cmath>
#include <cstdio>

std::string memoryRefusal(const std::string& what, long double neededBytes, int64_t allowedBytes) {
    const long double mebibyte = 1024.0L * 1024.0L;
    // Needs rounded up and the allowance down, so that the two never meet.
    const long double needed = std::ceil(neededBytes / mebibyte);
    char figures[96];
    snprintf(figures, sizeof figures,
             needed < 1e15L ? "it needs %.0Lf MiB, more than the %lld MiB allowed"
                            : "it needs %.3Lg MiB, more than the %lld MiB allowed",
             needed, static_cast<long long>(allowedBytes / (int64_t(1) << 20)));
    return what + " is larger than the memory allowed: " + figures + " (raise --max-memory)";
}
