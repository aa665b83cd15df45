# The layer rules that a compiler does not check:
#  - only the OS layer (os/) includes the operating system's own headers;
#  - the engine and the cores (common/, data/, os/ and every core/ folder)
#    never include Qt.
# Run as: cmake -DROOT=<source folder> -P check.cmake
cmake_minimum_required(VERSION 3.25)

set(platform_headers
    "^[ \t]*#[ \t]*include[ \t]*<(unistd|fcntl|windows|winbase|spawn|dirent|pthread|io|direct|dlfcn|signal|termios)\\.h>"
    "^[ \t]*#[ \t]*include[ \t]*<sys/[a-z_]+\\.h>")
set(qt_headers "^[ \t]*#[ \t]*include[ \t]*<Q[A-Za-z]*>")

set(problems "")
file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/*.cpp ${ROOT}/*.h)
foreach(source ${sources})
  if(source MATCHES "^(build|\\.)" OR source MATCHES "^os/")
    continue()
  endif()
  foreach(pattern ${platform_headers})
    file(STRINGS ${ROOT}/${source} hits REGEX "${pattern}")
    foreach(hit ${hits})
      string(APPEND problems "  ${source}: ${hit} (the operating system is reached through os/)\n")
    endforeach()
  endforeach()
  if(source MATCHES "^(common|data)/" OR source MATCHES "/core/")
    file(STRINGS ${ROOT}/${source} hits REGEX "${qt_headers}")
    foreach(hit ${hits})
      string(APPEND problems "  ${source}: ${hit} (this layer knows nothing of Qt)\n")
    endforeach()
  endif()
endforeach()

if(problems)
  message(FATAL_ERROR "Layer rules broken:\n${problems}")
endif()
list(LENGTH sources count)
message(STATUS "Layer rules kept in ${count} source files")
