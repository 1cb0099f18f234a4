# Debian packages, one per component: vantrel, vantrelw (when built) and libvantrel-dev. Each carries the
# copyright file and the Debian changelog in /usr/share/doc/<package>/; the programs' dependencies are
# computed from the binaries by dpkg-shlibdeps.
set(VANTREL_DEB_RELEASE 1)
set(VANTREL_DEB_MAINTAINER "Vantrel developers <vantrel@example.org>" CACHE STRING
  "Maintainer of the Debian packages, as \"Name <address>\"")
set(VANTREL_DEB_DATE "Tue, 08 Dec 2026 12:00:00 +0000")

set(VANTREL_DEB_console_PACKAGE vantrel)
set(VANTREL_DEB_batch_PACKAGE vantrelw)
set(VANTREL_DEB_development_PACKAGE libvantrel-dev)

foreach(component ${VANTREL_COMPONENTS})
  set(VANTREL_DEB_PACKAGE ${VANTREL_DEB_${component}_PACKAGE})
  set(docs ${CMAKE_BINARY_DIR}/packaging/${VANTREL_DEB_PACKAGE})
  configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${docs}/changelog.Debian @ONLY)
  # gzip -n: no name or time stamp, so the same sources give the same package.
  execute_process(COMMAND gzip -9nf ${docs}/changelog.Debian RESULT_VARIABLE gzipped)
  if(NOT gzipped EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${docs}/changelog.Debian")
  endif()
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${docs}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${VANTREL_DEB_PACKAGE} COMPONENT ${component}
          EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VENDOR "Vantrel developers")
set(CPACK_PACKAGE_CONTACT "${VANTREL_DEB_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${VANTREL_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VANTREL_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VANTREL_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME vantrel)
set(CPACK_COMPONENT_CONSOLE_DESCRIPTION "translator of 1-bit raster images (console program)
Vantrel translates monochrome raster images, typically scanned engineering
drawings, between the file formats of document-management systems and the data
streams of large-format plotters and printers.
This package holds the console program vantrel and its manual page.")

set(CPACK_DEBIAN_BATCH_PACKAGE_NAME vantrelw)
set(CPACK_COMPONENT_BATCH_DESCRIPTION "translator of 1-bit raster images (batch program)
Vantrel translates monochrome raster images, typically scanned engineering
drawings, between the file formats of document-management systems and the data
streams of large-format plotters and printers.
This package holds the batch translator vantrelw, which translates a list of
files into one output format, its manual page and its desktop menu entry.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvantrel-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# The static library needs the development files of zlib and libmd wherever it is linked.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "zlib1g-dev, libmd-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "translation library of Vantrel (development files)
Vantrel translates monochrome raster images, typically scanned engineering
drawings, between the file formats of document-management systems and the data
streams of large-format plotters and printers.
This package holds the static translation library, its C++ headers, a CMake
package (find_package(Vantrel), target Vantrel::vantrel) and a pkg-config file.")

include(CPack)
