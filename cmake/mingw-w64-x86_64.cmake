# Cross build of tandor.exe for 64-bit Windows with Debian's mingw-w64
# (g++-mingw-w64-x86-64). Usage:
#   cmake -S . -B build/windows --toolchain cmake/mingw-w64-x86_64.cmake -G Ninja
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(tandor_mingw_prefix x86_64-w64-mingw32)
# The posix thread model: its runtime has std::thread, which the output
# written behind uses (the win32 model's has none before GCC 13). The tool
# links statically, winpthread included, so only the system's own DLLs load.
find_program(CMAKE_C_COMPILER NAMES ${tandor_mingw_prefix}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${tandor_mingw_prefix}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${tandor_mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${tandor_mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
