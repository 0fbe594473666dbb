#include <cerrno>
#include <string>
#include <sys/stat.h>

#include "zeb/zeb.h"

namespace {

bool isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

extern "C" {

ZEB_API int os_mkdirs(const char* path) {
    if (!path || !*path) {
        return MKDIR_ERROR;
    }
    std::string target(path);
    while (target.size() > 1 && target.back() == '/') {
        target.pop_back();
    }
    if (isDirectory(target)) {
        return MKDIR_EXISTS;
    }
    // Make each missing ancestor in turn, from the root down.
    for (size_t slash = target.find('/', 1); slash != std::string::npos;
         slash = target.find('/', slash + 1)) {
        const std::string parent = target.substr(0, slash);
        if (mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) {
            return MKDIR_ERROR;
        }
    }
    if (mkdir(target.c_str(), 0755) != 0) {
        return errno == EEXIST && isDirectory(target) ? MKDIR_EXISTS : MKDIR_ERROR;
    }
    return MKDIR_SUCCESS;
}

ZEB_API FILE* os_fopen(const char* path, const char* mode) {
    if (!path || !mode) {
        return nullptr;
    }
    return fopen(path, mode);
}

ZEB_API int64_t os_fgetsize(FILE* file) {
    if (!file) {
        return -1;
    }
    const off_t current = ftello(file);
    if (current < 0 || fseeko(file, 0, SEEK_END) != 0) {
        return -1;
    }
    const off_t size = ftello(file);
    if (fseeko(file, current, SEEK_SET) != 0) {
        return -1;
    }
    return size;
}

} // extern "C"
