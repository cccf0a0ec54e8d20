# 64-bit Windows; the tests run under wine64. The default win32 thread model of mingw-w64 has no
# std::thread, so the posix one is required.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QDX_MINGW_PREFIX x86_64-w64-mingw32)
find_program(QDX_MINGW_CXX NAMES ${QDX_MINGW_PREFIX}-g++-posix REQUIRED)
find_program(QDX_MINGW_CC NAMES ${QDX_MINGW_PREFIX}-gcc-posix REQUIRED)
set(CMAKE_CXX_COMPILER ${QDX_MINGW_CXX})
set(CMAKE_C_COMPILER ${QDX_MINGW_CC})
set(CMAKE_RC_COMPILER ${QDX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QDX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine64 package installs its launcher outside PATH.
find_program(QDX_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(QDX_WINE64 NAMES wine64)
if(QDX_WINE64)
    # Through a wrapper that starts again a program wine failed to start, and only such a one.
    set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-test-run;${QDX_WINE64}")
endif()
