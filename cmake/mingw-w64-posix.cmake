# Cross-building the Qt-free part for 64-bit Windows with Debian's MinGW-w64 (package
# g++-mingw-w64-x86-64-posix). The posix thread model is the one whose libstdc++ has std::mutex
# and std::thread. Programs and tests run under Wine (packages wine64 wine), which CMake uses as
# the emulator: for the sample directory built at build time, for test discovery and for ctest.
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-posix.cmake -DUBIN_WITH_QT=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_ubin_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_ubin_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_ubin_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_ubin_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_ubin_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every executable carries libgcc, libstdc++ and winpthread inside it, so it runs anywhere
# (Wine included) without the MinGW DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Linked by lld where it is installed (Debian's lld): GNU ld takes about 25 s for each of these
# statically linked programs, lld a fraction of a second. This GCC runs its own ld whatever
# -fuse-ld says, so the link goes through mingw-lld-link.py, which runs the driver's linker
# command with lld in its place.
find_program(UBIN_MINGW_LLD ld.lld)
find_program(UBIN_MINGW_PYTHON python3)
if(UBIN_MINGW_LLD AND UBIN_MINGW_PYTHON)
  foreach(lang C CXX)
    set(CMAKE_${lang}_LINKER_LAUNCHER "${UBIN_MINGW_PYTHON};${CMAKE_CURRENT_LIST_DIR}/mingw-lld-link.py;${UBIN_MINGW_LLD}")
  endforeach()
endif()

find_program(UBIN_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(UBIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${UBIN_WINE})
endif()
