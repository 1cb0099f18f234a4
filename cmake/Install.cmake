# What `cmake --install` puts where, and the Debian packages CPack makes of it. Three components:
# "console" (vantrel and its man page), "batch" (vantrelw, when it is built, with its man page, desktop
# file and icon) and "development" (the translation library: headers, static library, CMake package and
# pkg-config file).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VANTREL_INCLUDE_SUBDIR ${CMAKE_INSTALL_INCLUDEDIR}/vantrel)
set(VANTREL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Vantrel)

# The library's headers include each other as "rio/...", so the installed tree keeps that layout under
# include/vantrel/ and a consumer's include path holds both include/ (for <vantrel/run/translate.h>) and
# include/vantrel/.
set_target_properties(vantrel_core PROPERTIES OUTPUT_NAME vantrel EXPORT_NAME vantrel)
target_include_directories(vantrel_core PUBLIC
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
  $<INSTALL_INTERFACE:${VANTREL_INCLUDE_SUBDIR}>)

# The public interface: streams, the RCB, status codes and texts, the registry's look-ups, the run's entry,
# options and reporter, and the headers these include.
set(VANTREL_PUBLIC_HEADERS
  rio/alloc.h rio/carried_code.h rio/diagnostics.h rio/format_id.h rio/port.h rio/rcb.h rio/resample.h rio/settings.h
  rio/sline.h rio/status.h rio/stream.h
  formats/open.h formats/registry.h
  picture/bitmap_string.h picture/rast_error.h picture/tpicture.h picture/turned_rows.h
  run/dialect.h run/input.h run/option_table.h run/options.h run/output_file.h run/parse.h run/reporter.h run/translate.h
  run/watch.h)
foreach(header ${VANTREL_PUBLIC_HEADERS})
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${CMAKE_SOURCE_DIR}/${header} DESTINATION ${VANTREL_INCLUDE_SUBDIR}/${folder}
          COMPONENT development)
endforeach()

install(TARGETS vantrel_core EXPORT VantrelTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(EXPORT VantrelTargets NAMESPACE Vantrel:: DESTINATION ${VANTREL_CMAKE_DIR} COMPONENT development)

# What the library links besides the C++ standard library: find_dependency() lines for the CMake package
# and the pkg-config modules it requires (a static library's users link them too). libmd needs no line
# of its own in the CMake package: the exported target names it as -lmd.
set(VANTREL_FIND_DEPENDENCIES "find_dependency(ZLIB)")
set(VANTREL_PKGCONFIG_REQUIRES "zlib libmd")
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/VantrelConfig.cmake.in
  ${CMAKE_BINARY_DIR}/VantrelConfig.cmake INSTALL_DESTINATION ${VANTREL_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/VantrelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/VantrelConfig.cmake ${CMAKE_BINARY_DIR}/VantrelConfigVersion.cmake
        DESTINATION ${VANTREL_CMAKE_DIR} COMPONENT development)

# The pkg-config file finds its prefix from its own place, so an extracted or relocated tree works too.
file(RELATIVE_PATH VANTREL_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" VANTREL_PC_TO_PREFIX "${VANTREL_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/vantrel.pc.in ${CMAKE_BINARY_DIR}/vantrel.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vantrel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)

# The programs and their manual pages, compressed as the distribution keeps them (gzip -n: no name or time
# stamp, so the same page gives the same bytes).
set(VANTREL_MAN_PAGES vantrel)
if(TARGET vantrelw)
  list(APPEND VANTREL_MAN_PAGES vantrelw)
endif()
foreach(page ${VANTREL_MAN_PAGES})
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/man/${page}.1 > ${CMAKE_BINARY_DIR}/man/${page}.1.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/man/${page}.1 VERBATIM)
  list(APPEND VANTREL_MAN_OUTPUTS ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
endforeach()
add_custom_target(vantrel_man_pages ALL DEPENDS ${VANTREL_MAN_OUTPUTS})

install(TARGETS vantrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT console)
install(FILES ${CMAKE_BINARY_DIR}/man/vantrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT console)
set(VANTREL_COMPONENTS console development)
if(TARGET vantrelw)
  install(TARGETS vantrelw RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT batch)
  install(FILES ${CMAKE_BINARY_DIR}/man/vantrelw.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT batch)
  # The desktop menu entry and its icon.
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/vantrelw.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          COMPONENT batch)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/vantrelw.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT batch)
  list(APPEND VANTREL_COMPONENTS batch)
endif()

include(${CMAKE_SOURCE_DIR}/cmake/Packaging.cmake)
