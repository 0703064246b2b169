# Cross build for Windows with Debian's mingw-w64 (the -posix compilers, which
# have std::thread). SCANDOR_WIN_ARCH=i686 builds the 32-bit program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)  # Windows 7
if(NOT SCANDOR_WIN_ARCH)
  set(SCANDOR_WIN_ARCH x86_64)
endif()
set(SCANDOR_WIN_ARCH ${SCANDOR_WIN_ARCH} CACHE STRING "x86_64 or i686")
set(CMAKE_SYSTEM_PROCESSOR ${SCANDOR_WIN_ARCH})
set(_triple ${SCANDOR_WIN_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Nothing beyond the system's own DLLs: the C++ runtime and winpthreads go in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(SCANDOR_WINE NAMES wine)
if(SCANDOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SCANDOR_WINE})
endif()
