# CPack: `cpack -G DEB` in the Linux build folder gives tandor_<version>_<arch>.deb,
# `cpack -G ZIP` in the Windows build folder tandor-<version>-win64.zip. Both
# hold what `cmake --install` installs, the .deb in Debian's layout
# (deb_layout.cmake).
set(CPACK_PACKAGE_NAME tandor)
set(CPACK_PACKAGE_VENDOR "The Tandor maintainers")
set(CPACK_PACKAGE_CONTACT "The Tandor maintainers <maintainers@tandor.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Tandor is a small console tool that batch and installation scripts call to\n"
    "produce or patch text: it expands tags for the current drive and path, typed\n"
    "input, registry values and newlines in a control string; it replaces text in\n"
    "a stream; and it rewrites one registry string value in place. This Linux\n"
    "build works on the registry files and drive letters of a Wine prefix.")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The static binary needs no library at all; a dynamic one gets its
# dependencies computed by dpkg-shlibdeps (package dpkg-dev).
if(tandor_static_binary)
  set(CPACK_TANDOR_STATIC ON)
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/deb_layout.cmake")

include(CPack)
