# The Debian package: `cpack -G DEB` in a build folder makes
# qvm-gaming_VERSION-RELEASE_ARCH.deb of everything the install() rules put under the prefix,
# which is /usr in the package whatever CMAKE_INSTALL_PREFIX says (the programs find their
# data relative to themselves). Library dependencies come from dpkg-shlibdeps.
set(QVM_DEB_MAINTAINER "QVM Gaming for Linux maintainers <maintainers@qvm-gaming.invalid>"
  CACHE STRING "Maintainer field of the Debian package: NAME <EMAIL>")
set(QVM_DEB_RELEASE 1 CACHE STRING "Debian revision of the package (the part after the dash)")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qvm-gaming)
set(CPACK_PACKAGE_VENDOR "QVM Gaming for Linux")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QVM_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME qvm-gaming)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QVM_DEB_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QVM_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# udev applies the access rule; without it only root reaches the devices.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS udev)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "configuration program for QVM gaming mice, pads and keyboards
Reads and writes the on-board memory of the USB gaming mice, pads and keyboards
of the QVM family (vendor 0c45): profiles with names and colours, DPI stages,
report rate, angle snapping, button functions, key-cycle lists, macros and
lighting. Backs up and restores the whole device memory.
.
The package holds the desktop program qvm-gaming, the command-line tool qvmctl,
the network companion qvm-companion, the device simulator qvm-sim, and a udev
rule that gives the user at the seat access to the devices.")

# The same script runs after installing (postinst) and after removing (postrm): it reloads
# the udev rules and refreshes the desktop caches, and never fails.
set(QVM_DEB_SCRIPTS ${CMAKE_BINARY_DIR}/deb-scripts)
foreach(script postinst postrm)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/maintainer-script ${QVM_DEB_SCRIPTS}/${script}
    COPYONLY)
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${QVM_DEB_SCRIPTS}/postinst ${QVM_DEB_SCRIPTS}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The copyright file and the Debian changelog, where Debian's tools look for them. The
# changelog's date is the configuration's (UTC), compressed without a name or time stamp
# so that the same configuration gives the same bytes.
set(QVM_DEB_VERSION ${PROJECT_VERSION}-${QVM_DEB_RELEASE})
string(TIMESTAMP QVM_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(QVM_DEB_DOCS ${CMAKE_BINARY_DIR}/deb-docs)
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb/changelog.in ${QVM_DEB_DOCS}/changelog.Debian @ONLY)
execute_process(COMMAND gzip -9nf ${QVM_DEB_DOCS}/changelog.Debian RESULT_VARIABLE QVM_DEB_GZIP)
if(NOT QVM_DEB_GZIP EQUAL 0)
  message(FATAL_ERROR "gzip could not compress ${QVM_DEB_DOCS}/changelog.Debian")
endif()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/deb/copyright ${QVM_DEB_DOCS}/changelog.Debian.gz
  DESTINATION share/doc/qvm-gaming)

# A sanitizer build's programs need the sanitizer runtimes and options to start: they are
# never packaged.
if(NOT QVM_SANITIZE STREQUAL "")
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/deb-refuse.cmake)
  file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
    "message(FATAL_ERROR \"this build folder uses QVM_SANITIZE=${QVM_SANITIZE}: "
    "package a plain build (the folder scripts/test.sh calls build)\")\n")
endif()

include(CPack)
