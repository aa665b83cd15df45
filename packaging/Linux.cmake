# What the Linux install and the Debian package hold: the two programs in
# bin (installed by app/*.cmake), the desktop entry and the icon in the
# hicolor theme's sizes. scripts/package makes the package with CPack.
if(WIN32)
  return()
endif()

install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/kesprep.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/kesprep.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
file(GLOB kes_icon_sizes RELATIVE ${PROJECT_SOURCE_DIR}/packaging/icons/hicolor
     ${PROJECT_SOURCE_DIR}/packaging/icons/hicolor/*)
foreach(size ${kes_icon_sizes})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/icons/hicolor/${size}/apps/kesprep.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}/apps)
endforeach()

# The Debian package: kesprep_<version>_amd64.deb. Its dependencies come from
# dpkg-shlibdeps on the programs, so the Qt libraries they link are named with
# the versions this machine's Debian provides.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kesprep)
set(CPACK_PACKAGE_VENDOR KesPrep)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "KesPrep developers <kesprep@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "prepares the Kestal upload file of placement-test results")
# The long description below the summary line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "KesPrep reads the placement, assessment and score records of one testing\n\
period from the ORVA testing system's xBase tables, translates their codes\n\
and writes the upload file for the Kestal student-records system. kesprep is\n\
the desktop program, kesprep-batch runs the same preparation without a\n\
display, for cron.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# The package installs where the build was configured to install: the
# programs compare their own folder with that bin folder to know they are the
# installed copy (app/core/SettingsLocation.h).
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_SET_DESTDIR OFF)
include(CPack)
