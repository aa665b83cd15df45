# What users get. In a Windows build: the version resource and icon of each
# program, read back from the .exe.
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
endif()
