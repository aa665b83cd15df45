# Cross-building the Qt-free part for 64-bit Windows with Debian's mingw-w64
# (g++-mingw-w64-x86-64, posix threads). Programs are linked statically, so
# they run under Wine or on Windows without any DLL beside them.
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KES_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KES_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KES_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KES_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KES_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# CTest runs the test programs through Wine.
find_program(KES_WINE NAMES wine64 wine)
if(KES_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KES_WINE})
endif()
