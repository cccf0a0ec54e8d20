# GoogleTest for the test executables: the installed library for native builds, and for cross
# builds the sources that Debian's googletest package ships, compiled with the cross compiler
# (find_package would only find the host's library).
function(qdx_use_googletest)
    if(TARGET GTest::gtest)
        return()
    endif()
    if(NOT CMAKE_CROSSCOMPILING)
        find_package(GTest REQUIRED)
        return()
    endif()

    set(QDX_GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH
        "GoogleTest sources for cross builds")
    if(NOT EXISTS "${QDX_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
        message(FATAL_ERROR "No GoogleTest sources in ${QDX_GOOGLETEST_SOURCE_DIR}; "
                            "install the googletest package")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    # Our -Werror is for our own code; a warning inside GoogleTest must not break the build.
    get_directory_property(ownOptions COMPILE_OPTIONS)
    set(gtestOptions ${ownOptions})
    list(REMOVE_ITEM gtestOptions -Werror)
    set_directory_properties(PROPERTIES COMPILE_OPTIONS "${gtestOptions}")
    add_subdirectory("${QDX_GOOGLETEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
    set_directory_properties(PROPERTIES COMPILE_OPTIONS "${ownOptions}")

    foreach(lib gtest gtest_main gmock gmock_main)
        if(NOT TARGET GTest::${lib})
            add_library(GTest::${lib} ALIAS ${lib})
        endif()
    endforeach()
endfunction()
