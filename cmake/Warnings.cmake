# Our own code builds warning-free; third-party headers come in as SYSTEM includes.
function(drivon_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror -Wno-missing-field-initializers)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        # GCC 12 reports impossible overlaps inside std::string's own concatenation at -O3
        # (a known false positive of its -Wrestrict), which would break every release build.
        target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
endfunction()
