# Run by CPack on the staged files before it builds a package
# (CPACK_PRE_BUILD_SCRIPTS). For the .deb it does what Debian's packaging
# tools do to an installed tree: compresses the manual page, names the
# licence `copyright`, adds the Debian changelog that a native package must
# carry, and records why lintian may find a static binary.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")

execute_process(COMMAND gzip -9n "${root}/share/man/man1/tandor.1" COMMAND_ERROR_IS_FATAL ANY)
file(RENAME "${doc}/LICENSE" "${doc}/copyright")

# SOURCE_DATE_EPOCH, when set, fixes the date (reproducible builds).
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${doc}/changelog"
     "${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
     "  * Release ${CPACK_PACKAGE_VERSION}: see CHANGELOG.md beside this file.\n\n"
     " -- ${CPACK_PACKAGE_CONTACT}  ${date}\n")
execute_process(COMMAND gzip -9n "${doc}/changelog" COMMAND_ERROR_IS_FATAL ANY)

if(CPACK_TANDOR_STATIC)
  file(WRITE "${root}/share/lintian/overrides/${CPACK_PACKAGE_NAME}"
       "# Linked statically on purpose: it starts faster than a dynamic build.\n"
       "${CPACK_PACKAGE_NAME}: statically-linked-binary [usr/bin/tandor]\n")
endif()
