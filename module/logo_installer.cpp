#include "module/logo_installer.h"

#include <cstdio>

#include "source/host_path.h"

void installLogo(zeb_module_t* module, std::span<const uint8_t> image) noexcept {
    if (HostPath folder{zeb_module_get_config_path(module, nullptr)}) {
        os_mkdirs(folder.get());
    }
    HostPath path{zeb_module_get_config_path(module, "dv_logo.png")};
    if (!path) {
        return;
    }
    if (FILE* existing = os_fopen(path.get(), "rb")) {
        const int64_t size = os_fgetsize(existing);
        fclose(existing);
        if (size >= 0 && static_cast<uint64_t>(size) == image.size()) {
            return;
        }
    }
    serializer writer{};
    const bool opened = file_output_serializer_init_safe(&writer, path.get(), "tmp");
    path.reset();
    if (!opened) {
        return;
    }
    if (writer.write) {
        writer.write(writer.data, image.data(), image.size());
    }
    // Freeing the writer is what puts the written file in place of the old one.
    file_output_serializer_free(&writer);
}
