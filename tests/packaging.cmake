# What users install. On Linux: the Debian package made from this build and
# checked as scripts/package checks its own (the programs, the desktop entry,
# the icon, the Qt dependencies). In a Windows build: the version resource and
# icon of each program, read back from the .exe.
if(WIN32)
  set(kes_resource_programs kesprep-batch)
  if(KES_BUILD_GUI)
    list(APPEND kes_resource_programs kesprep)
  endif()
  foreach(program ${kes_resource_programs})
    add_test(NAME windows_resource_${program}
             COMMAND ${CMAKE_COMMAND} -DWINDRES=${CMAKE_RC_COMPILER}
                     -DPROGRAM=$<TARGET_FILE:${program}> -DNAME=${program}
                     -DVERSION=${PROJECT_VERSION}
                     -P ${CMAKE_CURRENT_SOURCE_DIR}/packaging/check-windows-resource.cmake)
    set_tests_properties(windows_resource_${program} PROPERTIES LABELS packaging)
  endforeach()
elseif(KES_BUILD_GUI)
  add_test(NAME debian_package
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/packaging/make-and-check-deb ${PROJECT_BINARY_DIR}
                   ${PROJECT_VERSION} ${CMAKE_INSTALL_PREFIX})
  set_tests_properties(debian_package PROPERTIES LABELS packaging)
endif()
