# The layer rules that a compiler does not check:
#  - only the OS layer (os/) includes the operating system's own headers;
#  - the engine and the cores (common/, data/, os/ and every core/ folder)
#    never include Qt;
#  - every include points down a floor, as the table below allows: the
#    windows (the top of app/, prep/, export/, settings/) over ui/, ui/ over
#    the cores (app/core over prep/core, export/core and settings/core), the
#    cores over data/, data/ over common/, common/ over os/. No folder
#    includes one that includes it back.
# Run as: cmake -DROOT=<source folder> -P check.cmake
cmake_minimum_required(VERSION 3.25)

set(platform_headers
    "^[ \t]*#[ \t]*include[ \t]*<(unistd|fcntl|windows|winbase|spawn|dirent|pthread|io|direct|dlfcn|signal|termios)\\.h>"
    "^[ \t]*#[ \t]*include[ \t]*<sys/[a-z_]+\\.h>")
set(qt_headers "^[ \t]*#[ \t]*include[ \t]*<Q[A-Za-z]*>")

# Which folders each folder may include (besides itself). A folder's core/
# is a folder of its own; tools/, bench/, fuzz/ and tests/ stand on top and
# may include anything.
set(cores "app/core;prep/core;export/core;settings/core")
set(below_cores "data;common;os")
set(may_include_os "")
set(may_include_common "os")
set(may_include_data "common;os")
set(may_include_prep/core "${below_cores}")
set(may_include_export/core "${below_cores}")
set(may_include_settings/core "${below_cores}")
set(may_include_app/core "prep/core;export/core;settings/core;${below_cores}")
set(may_include_ui "${cores};${below_cores}")
set(may_include_settings "ui;${cores};${below_cores}")
set(may_include_export "ui;${cores};${below_cores}")
set(may_include_prep "export;ui;${cores};${below_cores}")
set(may_include_app "prep;export;settings;ui;${cores};${below_cores}")
set(folders "app/core;prep/core;export/core;settings/core;app;prep;export;settings;ui;data;common;os")

# The folder of a path relative to the root, or "" for one outside the table.
function(folder_of path result)
  foreach(folder ${folders})
    string(LENGTH "${folder}/" length)
    string(SUBSTRING "${path}" 0 ${length} head)
    if(head STREQUAL "${folder}/")
      set(${result} "${folder}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${result} "" PARENT_SCOPE)
endfunction()

set(problems "")
file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/*.cpp ${ROOT}/*.h)
foreach(source ${sources})
  if(source MATCHES "^(build|\\.)")
    continue()
  endif()
  if(NOT source MATCHES "^os/")
    foreach(pattern ${platform_headers})
      file(STRINGS ${ROOT}/${source} hits REGEX "${pattern}")
      foreach(hit ${hits})
        string(APPEND problems "  ${source}: ${hit} (the operating system is reached through os/)\n")
      endforeach()
    endforeach()
  endif()
  if(source MATCHES "^(common|data|os)/" OR source MATCHES "/core/")
    file(STRINGS ${ROOT}/${source} hits REGEX "${qt_headers}")
    foreach(hit ${hits})
      string(APPEND problems "  ${source}: ${hit} (this layer knows nothing of Qt)\n")
    endforeach()
  endif()

  folder_of("${source}" from)
  if(from STREQUAL "")
    continue()
  endif()
  file(STRINGS ${ROOT}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
  foreach(line ${includes})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" included "${line}")
    folder_of("${included}" to)
    if(to STREQUAL "" OR to STREQUAL from)
      continue()
    endif()
    if(NOT to IN_LIST may_include_${from})
      string(APPEND problems "  ${source}: includes ${included} (${from}/ may not include ${to}/)\n")
    endif()
  endforeach()
endforeach()

if(problems)
  message(FATAL_ERROR "Layer rules broken:\n${problems}")
endif()
list(LENGTH sources count)
message(STATUS "Layer rules kept in ${count} source files")
