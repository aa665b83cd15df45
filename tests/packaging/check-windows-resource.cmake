# Reads a Windows program's resources back from the built .exe and checks the
# version resource and the icon that packaging/Windows.cmake gives it.
# Run as: cmake -DWINDRES=<windres> -DPROGRAM=<file.exe> -DNAME=<name>
#               -DVERSION=<x.y.z> -P check-windows-resource.cmake
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${WINDRES} -i ${PROGRAM} -O rc OUTPUT_VARIABLE rc ERROR_VARIABLE err
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${WINDRES} could not read the resources of ${PROGRAM}: ${err}")
endif()

string(REPLACE "." ";" numbers "${VERSION}")
list(APPEND numbers 0 0 0)
list(SUBLIST numbers 0 4 numbers)
list(JOIN numbers ", " commas)

set(problems "")
foreach(expected
        "FILEVERSION ${commas}"
        "PRODUCTVERSION ${commas}"
        "VALUE \"ProductName\", \"KesPrep\""
        "VALUE \"ProductVersion\", \"${VERSION}\""
        "VALUE \"FileVersion\", \"${VERSION}\""
        "VALUE \"OriginalFilename\", \"${NAME}.exe\""
        "VALUE \"FileDescription\", \""
        "\"IDI_ICON1\" 14 /* RT_GROUP_ICON */")
  string(FIND "${rc}" "${expected}" at)
  if(at EQUAL -1)
    string(APPEND problems "  missing: ${expected}\n")
  endif()
endforeach()
# Every size of the icon file went in (16 to 256 pixels: six images).
string(FIND "${rc}" "/* Type: icon" iconsAt)
string(FIND "${rc}" "/* Type: group icon" groupAt)
set(imageCount 0)
if(iconsAt GREATER -1 AND groupAt GREATER iconsAt)
  math(EXPR length "${groupAt} - ${iconsAt}")
  string(SUBSTRING "${rc}" ${iconsAt} ${length} icons)
  string(REGEX MATCHALL "Name: [0-9]+\\." images "${icons}")
  list(LENGTH images imageCount)
endif()
if(imageCount LESS 6)
  string(APPEND problems "  ${imageCount} icon images, expected 6\n")
endif()

if(problems)
  message(FATAL_ERROR "The resources of ${PROGRAM}:\n${problems}")
endif()
message(STATUS "${PROGRAM}: KesPrep ${VERSION}, icon with ${imageCount} images")
