# 32-bit Windows, the platform whose pass-through record layout the command set fixes. This build
# is compiled and linked only: wine64 alone does not run 32-bit programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QDX_MINGW_PREFIX i686-w64-mingw32)
# The posix thread model provides std::thread; fall back to win32 only where posix is missing.
find_program(QDX_MINGW_CXX NAMES ${QDX_MINGW_PREFIX}-g++-posix ${QDX_MINGW_PREFIX}-g++-win32 REQUIRED)
find_program(QDX_MINGW_CC NAMES ${QDX_MINGW_PREFIX}-gcc-posix ${QDX_MINGW_PREFIX}-gcc-win32 REQUIRED)
set(CMAKE_CXX_COMPILER ${QDX_MINGW_CXX})
set(CMAKE_C_COMPILER ${QDX_MINGW_CC})
set(CMAKE_RC_COMPILER ${QDX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QDX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
