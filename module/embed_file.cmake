# cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -P embed_file.cmake
# Writes a C++ source defining embeddedLogo() (module/logo_image.h) over the input's bytes.
file(READ "${INPUT}" hex HEX)
file(SIZE "${INPUT}" size)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Break the array into lines of 16 bytes (CMake's regular expressions have no {n}).
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} at build time; do not edit.
#include \"module/logo_image.h\"

namespace {
const uint8_t kLogoBytes[${size}] = {
    ${bytes}
};
} // namespace

std::span<const uint8_t> embeddedLogo() noexcept {
    return std::span<const uint8_t>(kLogoBytes, sizeof kLogoBytes);
}
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
