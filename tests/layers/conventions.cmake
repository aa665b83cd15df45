# The naming rules of README.md's "Conventions" that a compiler does not check:
#  - namespaces of the Qt-free code: the engine (data/) in xbase::, apart from
#    the TAdsTable component it offers (the Ads* files, Error.h,
#    OpenTableWithRetry); common/ in kes:: apart from Operator and
#    PreparationLock; os/ in kes::os; the cores (every core/ folder) in the
#    global namespace with the windows, opening none of their own but the
#    settings file's key names;
#  - a test program's source is named <unit or topic>_test.cpp, and a test
#    folder's own helpers <folder>_support.h (tests/support is shared by all).
# Run as: cmake -DROOT=<source folder> -P conventions.cmake
cmake_minimum_required(VERSION 3.25)

set(opens_namespace "^[ \t]*namespace[ \t]+[A-Za-z_][A-Za-z_0-9:]*[ \t]*{")
set(engine_component "^data/(Ads[A-Za-z]*\\.(h|cpp)|Error\\.h|OpenTableWithRetry\\.(h|cpp))$")
set(common_global "^common/(Operator\\.h|PreparationLock\\.(h|cpp))$")
set(core_namespaces "settings_keys")

set(problems "")

# Whether `source` opens a namespace whose name starts with `name` (xbase,
# xbase::coding, kes::os ...).
function(opens source name result)
  file(STRINGS ${ROOT}/${source} hits REGEX "^[ \t]*namespace[ \t]+${name}([ \t]|::|{)")
  if(hits)
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/*.cpp ${ROOT}/*.h)
foreach(source ${sources})
  if(source MATCHES "^(build|\\.)")
    continue()
  endif()
  if(source MATCHES "^data/" AND NOT source MATCHES "${engine_component}")
    opens(${source} "xbase" found)
    if(NOT found)
      string(APPEND problems "  ${source}: the engine's code lives in namespace xbase\n")
    endif()
  elseif(source MATCHES "^os/")
    opens(${source} "kes::os" found)
    if(NOT found)
      string(APPEND problems "  ${source}: the OS layer lives in namespace kes::os\n")
    endif()
  elseif(source MATCHES "^common/" AND NOT source MATCHES "${common_global}")
    opens(${source} "kes" found)
    if(NOT found)
      string(APPEND problems "  ${source}: the helpers of common/ live in namespace kes\n")
    endif()
  elseif(source MATCHES "^[a-z]+/core/")
    file(STRINGS ${ROOT}/${source} hits REGEX "${opens_namespace}")
    foreach(hit ${hits})
      string(REGEX REPLACE "^[ \t]*namespace[ \t]+([A-Za-z_0-9:]+).*" "\\1" name "${hit}")
      if(NOT name IN_LIST core_namespaces)
        string(APPEND problems
               "  ${source}: opens namespace ${name} (the cores are in the global namespace)\n")
      endif()
    endforeach()
  elseif(source MATCHES "^tests/" AND NOT source MATCHES "^tests/(data|support)/")
    get_filename_component(name ${source} NAME)
    get_filename_component(path ${source} DIRECTORY)
    get_filename_component(folder ${path} NAME)
    if(source MATCHES "\\.cpp$")
      file(STRINGS ${ROOT}/${source} cases REGEX "^[ \t]*(TEST|TEST_F|TEST_P|TYPED_TEST)[ \t]*\\(")
      if(cases AND NOT name MATCHES "_test\\.cpp$")
        string(APPEND problems "  ${source}: a test program's source is named <unit>_test.cpp\n")
      endif()
    elseif(NOT name STREQUAL "${folder}_support.h")
      string(APPEND problems "  ${source}: the helpers of ${path}/ are ${folder}_support.h\n")
    endif()
  endif()
endforeach()

if(problems)
  message(FATAL_ERROR "Naming rules broken:\n${problems}")
endif()
message(STATUS "Naming rules kept")
