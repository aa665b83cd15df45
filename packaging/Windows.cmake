# The Windows programs' version resource: product name, version, a file
# description and the program's icon, read by Explorer's Properties page.
#   kes_add_windows_resource(<target> "<file description>")
# Does nothing outside Windows builds.
function(kes_add_windows_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(KES_RC_NAME ${target})
  set(KES_RC_DESCRIPTION "${description}")
  set(KES_RC_ICON "${PROJECT_SOURCE_DIR}/packaging/windows/kesprep.ico")
  # FILEVERSION takes four numbers: 1.0.0 becomes 1,0,0,0.
  set(numbers ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH} 0)
  list(TRANSFORM numbers REPLACE "^$" "0")
  list(JOIN numbers "," KES_RC_VERSION_COMMAS)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # The icon is read when the resource is compiled.
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${KES_RC_ICON})
endfunction()
