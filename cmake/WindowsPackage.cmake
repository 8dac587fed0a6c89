# The Windows package: `cmake --build build-win32 --target package` writes
# VEK-<version>-win32.zip with VEK.DLL, vekconv.exe, Sorvu.exe (installed by
# viewer/) and a short text on use, side by side in one folder (the programs
# find the library beside them).
install(TARGETS vek vekconv RUNTIME DESTINATION .)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/README-win32.txt DESTINATION . RENAME README.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME VEK)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win32)
set(CPACK_PACKAGE_FILE_NAME VEK-${PROJECT_VERSION}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
