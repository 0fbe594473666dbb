#include <cstdlib>

#include "zeb/zeb.h"

extern "C" {

ZEB_API void* bmalloc(size_t size) {
    // Callers never check for null, as with the host's own allocator; running out is fatal.
    void* ptr = malloc(size ? size : 1);
    if (!ptr) {
        blog(LOG_ERROR, "bmalloc: out of memory allocating %zu bytes", size);
        abort();
    }
    return ptr;
}

ZEB_API void bfree(void* ptr) {
    free(ptr);
}

} // extern "C"
