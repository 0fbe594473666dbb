// The safe file writer: everything goes to "<path>.<ext>" and only a complete file replaces the
// target, by rename(2), so a reader never sees a half-written file.
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>

#include "zeb/zeb.h"

namespace {

struct SafeFile {
    FILE* file = nullptr;
    std::string path;
    std::string tempPath;
    bool failed = false;
};

size_t safeWrite(void* data, const void* buf, size_t size) {
    auto* sf = static_cast<SafeFile*>(data);
    const size_t written = fwrite(buf, 1, size, sf->file);
    if (written != size) {
        sf->failed = true;
    }
    return written;
}

int64_t safeSeek(void* data, int64_t offset, int origin) {
    auto* sf = static_cast<SafeFile*>(data);
    if (fseeko(sf->file, static_cast<off_t>(offset), origin) != 0) {
        return -1;
    }
    return ftello(sf->file);
}

int64_t safeGetPos(void* data) {
    return ftello(static_cast<SafeFile*>(data)->file);
}

} // namespace

extern "C" {

ZEB_API bool file_output_serializer_init_safe(struct serializer* s, const char* path,
                                              const char* temp_ext) {
    if (!s) {
        return false;
    }
    memset(s, 0, sizeof(*s));
    if (!path || !*path) {
        return false;
    }
    auto* sf = new (std::nothrow) SafeFile;
    if (!sf) {
        return false;
    }
    sf->path = path;
    sf->tempPath = sf->path + "." + (temp_ext && *temp_ext ? temp_ext : "tmp");
    sf->file = fopen(sf->tempPath.c_str(), "wb");
    if (!sf->file) {
        delete sf;
        return false;
    }
    s->data = sf;
    s->write = safeWrite;
    s->seek = safeSeek;
    s->get_pos = safeGetPos;
    return true;
}

ZEB_API void file_output_serializer_free(struct serializer* s) {
    if (!s || !s->data) {
        return;
    }
    auto* sf = static_cast<SafeFile*>(s->data);
    bool ok = !sf->failed && fflush(sf->file) == 0 && fsync(fileno(sf->file)) == 0;
    ok = fclose(sf->file) == 0 && ok;
    // A failed write must not replace a good file with a truncated one.
    if (!ok || rename(sf->tempPath.c_str(), sf->path.c_str()) != 0) {
        blog(LOG_WARNING, "file_output_serializer_free: could not write '%s'", sf->path.c_str());
        remove(sf->tempPath.c_str());
    }
    delete sf;
    memset(s, 0, sizeof(*s));
}

} // extern "C"
