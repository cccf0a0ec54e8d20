# The portable zip of a Windows build (cpack -G ZIP, or the package target): qdxclient.exe and
# qdxflash.exe side by side with a short text on where the UIT and HZK files go. Both programs are
# linked statically, so nothing else is needed beside them.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(qdx_package_platform win32)
else()
    set(qdx_package_platform win64)
endif()

install(FILES "${PROJECT_SOURCE_DIR}/app/win32/README-windows.txt" DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME qdxclient)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_FILE_NAME "qdxclient-${PROJECT_VERSION}-${qdx_package_platform}")
# One folder in the zip, named like the zip, holding the programs.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# The debugging information stays in the build tree.
set(CPACK_STRIP_FILES ON)
include(CPack)
