// The bytes a reader allocates while it parses one input, for the fuzz
// targets' memory contract: every allocation that the calling thread makes
// between startCounting and stopCounting, added up (frees do not subtract),
// seen through the sanitizer allocator's hooks (the targets are built with
// AddressSanitizer), so libjpeg's mallocs count as well as our own news.
//
// Fuzzer thread. Bytes.
#pragma once

#include <sanitizer/allocator_interface.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace alloccount {

inline thread_local bool counting = false;
inline thread_local size_t counted = 0;

inline void onMalloc(const volatile void*, size_t size) {
    if (counting)
        counted += size;
}

inline void onFree(const volatile void*) {}

inline void startCounting() {
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0;
    if (!installed) {
        fprintf(stderr, "alloc_count: the sanitizer's allocation hooks are not available\n");
        abort();
    }
    counted = 0;
    counting = true;
}

inline size_t stopCounting() {
    counting = false;
    return counted;
}

// Aborts (a finding) when a read allocated more than its reader's budget.
inline void checkBudget(size_t allocated, size_t budget, size_t inputBytes) {
    if (allocated > budget) {
        fprintf(stderr,
                "memory budget broken: %zu bytes allocated for a %zu-byte input, budget %zu\n",
                allocated, inputBytes, budget);
        abort();
    }
}

} // namespace alloccount
