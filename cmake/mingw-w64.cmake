# Cross-building for 64-bit Windows with Debian's mingw-w64
# (g++-mingw-w64-x86-64, posix threads).
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# The programs link the compiler's runtime (libstdc++, libgcc, winpthread) as
# DLLs by default, the way Qt's DLLs do, so that the program and Qt share one
# C++ runtime; scripts/package puts the three DLLs beside the programs.
# -DKES_MINGW_STATIC_RUNTIME=ON links it into each program instead (a build
# without the windows, whose programs then run with no DLL beside them).
#
# -DKES_QT_WINDOWS_DIR=<folder> (or the environment variable of that name)
# names a Qt built for Windows by scripts/build-qt-windows; the build then finds
# Qt there and takes moc, rcc and uic from the Linux Qt in /usr.
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

# Try-compile projects read this file again: pass the choices on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KES_MINGW_STATIC_RUNTIME KES_QT_WINDOWS_DIR)

if(KES_MINGW_STATIC_RUNTIME)
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endif()

if(NOT KES_QT_WINDOWS_DIR AND DEFINED ENV{KES_QT_WINDOWS_DIR})
  set(KES_QT_WINDOWS_DIR "$ENV{KES_QT_WINDOWS_DIR}")
endif()
if(KES_QT_WINDOWS_DIR)
  list(APPEND CMAKE_FIND_ROOT_PATH "${KES_QT_WINDOWS_DIR}")
  list(APPEND CMAKE_PREFIX_PATH "${KES_QT_WINDOWS_DIR}")
  # The code generators (moc, rcc, uic) run on the build machine.
  set(QT_HOST_PATH /usr)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
endif()

# CTest runs the test programs through Wine.
find_program(KES_WINE NAMES wine64 wine)
if(KES_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KES_WINE})
endif()
