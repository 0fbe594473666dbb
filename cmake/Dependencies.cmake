# Every dependency comes from a Debian package (scripts/install-deps.sh installs them).
if(DRIVON_PORTABLE_ONLY)
    include(${CMAKE_CURRENT_LIST_DIR}/PortableDependencies.cmake)
    return()
endif()
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavcodec libavutil libswscale)
# The MP4 container for zebhost's --record only; the module never links it.
pkg_check_modules(AVFORMAT REQUIRED IMPORTED_TARGET libavformat)
find_package(nlohmann_json 3.11 REQUIRED)
find_package(PNG REQUIRED)
find_package(Threads REQUIRED)

find_library(JERASURE_LIBRARY Jerasure REQUIRED)
find_library(GF_COMPLETE_LIBRARY gf_complete REQUIRED)
find_path(JERASURE_INCLUDE_DIR jerasure.h REQUIRED)
add_library(drivon_jerasure INTERFACE)
# jerasure.h includes galois.h from the jerasure/ sub-folder.
target_include_directories(drivon_jerasure SYSTEM INTERFACE ${JERASURE_INCLUDE_DIR} ${JERASURE_INCLUDE_DIR}/jerasure)
target_link_libraries(drivon_jerasure INTERFACE ${JERASURE_LIBRARY} ${GF_COMPLETE_LIBRARY})

if(DRIVON_TESTS)
    find_package(GTest REQUIRED)
endif()
if(DRIVON_BENCH)
    find_package(benchmark REQUIRED)
endif()
