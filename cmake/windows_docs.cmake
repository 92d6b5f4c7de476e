# Run by `cmake --install` of the Windows build, and so by `cpack -G ZIP`:
# writes README, LICENSE and CHANGELOG beside tandor.exe as .txt files with
# CR LF line ends. Windows opens a .txt file in Notepad on a double-click,
# while .md and a name without an extension (LICENSE) open in nothing until
# the user picks a program; and Notepad before Windows 10 (1809) shows a
# file whose lines end in LF alone as one long line.
set(source "${CMAKE_CURRENT_LIST_DIR}/..")
set(destination "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
foreach(document README.md LICENSE CHANGELOG.md)
  string(REGEX REPLACE "\\.md$" "" name "${document}")
  string(APPEND name ".txt")
  file(READ "${source}/${document}" text)
  # A checkout that has CR LF already (Git's autocrlf) must not get CR CR LF.
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  message(STATUS "Installing: ${destination}/${name}")
  file(WRITE "${destination}/${name}" "${text}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${destination}/${name}")
endforeach()
