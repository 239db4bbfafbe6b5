# Cross-compiling kestrix.exe for 64-bit Windows with Debian's mingw-w64
# toolchain (POSIX threads variant, so std::thread and friends work).
#
# The program and the test executables are linked statically (C and C++
# runtimes included), so they run on a plain Windows system, or under Wine,
# with nothing beside them but the system's own DLLs (AVIFIL32, OLE32, ...).
# Tests run through Wine; the caller chooses the Wine prefix (WINEPREFIX).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTRIX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTRIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRIX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the cross-compiled tests through Wine.
find_program(KESTRIX_WINE NAMES wine64 wine)
if(KESTRIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRIX_WINE})
endif()
