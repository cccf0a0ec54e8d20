# CLI11 and nlohmann-json, header-only, from the build host's Debian packages (libcli11-dev,
# nlohmann-json3-dev), as the targets CLI11::CLI11 and nlohmann_json::nlohmann_json.
#
# Native builds use the packages' own CMake configs. A cross build must not search the host's
# /usr/include (its C library headers would shadow mingw-w64's), so it gets a folder in the build
# tree holding a link to each package's header directory and nothing else. Both kinds of target
# are IMPORTED, so their headers are system headers and their warnings do not break -Werror.

# qdx_host_headers(TARGET DIR HEADER PACKAGE): TARGET makes #include <DIR/...> find the host's
# /usr/include/DIR, which holds HEADER.
function(qdx_host_headers target dir header package)
    if(TARGET ${target})
        return()
    endif()
    find_path(QDX_HOST_INCLUDE_${dir} NAMES ${dir}/${header}
              PATHS /usr/include /usr/local/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT QDX_HOST_INCLUDE_${dir})
        message(FATAL_ERROR "No ${dir}/ headers in /usr/include; install the ${package} package")
    endif()
    set(linkDir "${PROJECT_BINARY_DIR}/host-headers/${dir}")
    file(MAKE_DIRECTORY "${linkDir}")
    file(CREATE_LINK "${QDX_HOST_INCLUDE_${dir}}/${dir}" "${linkDir}/${dir}" SYMBOLIC)
    add_library(${target} INTERFACE IMPORTED)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${linkDir}")
endfunction()

if(NOT CMAKE_CROSSCOMPILING)
    find_package(CLI11 2.1 CONFIG QUIET)
    find_package(nlohmann_json 3.11 CONFIG QUIET)
endif()
qdx_host_headers(CLI11::CLI11 CLI CLI.hpp libcli11-dev)
qdx_host_headers(nlohmann_json::nlohmann_json nlohmann json.hpp nlohmann-json3-dev)
