# What `cmake --install` puts where (GNUInstallDirs folders), and the Debian
# packages CPack makes of it. Install rules come in two components:
#   runtime  the lumets program, the host library (versioned file and SONAME
#            link), the particle plug-in, the frei0r module (frei0r/ installs it
#            with the default component), documents and examples; package lumets
#   dev      the host library's headers, its unversioned .so link, a CMake
#            package config (find_package(lumets), target lumets::host) and a
#            pkg-config file (lumets_host.pc); package lumets-dev
set(LUMETS_MAINTAINER "lumets developers <lumets-developers@users.noreply.github.com>"
    CACHE STRING "Maintainer (name <address>) named by the Debian packages and their copyright file")
# It goes into the packages' control files and changelogs, line-based formats.
if(NOT LUMETS_MAINTAINER MATCHES "^[^<>@\n\r\t]+ <[^<>@ \n\r\t]+@[^<>@ \n\r\t]+\\.[^<>@ \n\r\t]+>$")
  message(FATAL_ERROR "LUMETS_MAINTAINER \"${LUMETS_MAINTAINER}\" is not of the form: Name <user@host.domain>")
endif()

if(TARGET lumets)
  install(TARGETS lumets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()
set_target_properties(lumets_host PROPERTIES EXPORT_NAME host)
install(TARGETS lumets_host EXPORT lumets_targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/host/include/host DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/lumets
        COMPONENT dev)
install(TARGETS lumets_particles LIBRARY DESTINATION ${LUMETS_INSTALL_PLUGINDIR} COMPONENT runtime)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/CHANGELOG.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        COMPONENT runtime PATTERN "out" EXCLUDE PATTERN ".gitignore" EXCLUDE)

# Each Debian package has its own copyright file, and lintian's overrides for
# the warnings we keep (each with its reason).
set(LUMETS_DEBIAN_DIR ${CMAKE_SOURCE_DIR}/packaging/debian)
configure_file(${LUMETS_DEBIAN_DIR}/copyright.in ${CMAKE_BINARY_DIR}/packaging/copyright @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/lumets-dev
        COMPONENT dev)
# The Debian changelog (a native package has it as changelog.gz in each
# package's documents; the release notes stay in CHANGELOG.md) and the manual
# page, compressed as Debian does (gzip -9n: no name or time stamp inside). The
# date is the configure time, or SOURCE_DATE_EPOCH when set.
find_program(LUMETS_GZIP gzip REQUIRED)
string(TIMESTAMP LUMETS_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(LUMETS_DEB_PACKAGE lumets lumets-dev)
  set(LUMETS_PKG_DIR ${CMAKE_BINARY_DIR}/packaging/${LUMETS_DEB_PACKAGE})
  configure_file(${LUMETS_DEBIAN_DIR}/changelog.in ${LUMETS_PKG_DIR}/changelog @ONLY)
  execute_process(COMMAND ${LUMETS_GZIP} -9nc INPUT_FILE ${LUMETS_PKG_DIR}/changelog
                  OUTPUT_FILE ${LUMETS_PKG_DIR}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/packaging/lumets/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT runtime)
install(FILES ${CMAKE_BINARY_DIR}/packaging/lumets-dev/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/lumets-dev COMPONENT dev)
if(TARGET lumets)
  configure_file(${LUMETS_DEBIAN_DIR}/lumets.1 ${CMAKE_BINARY_DIR}/packaging/lumets.1 @ONLY)
  execute_process(COMMAND ${LUMETS_GZIP} -9nc INPUT_FILE ${CMAKE_BINARY_DIR}/packaging/lumets.1
                  OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/lumets.1.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/lumets.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
endif()
install(FILES ${LUMETS_DEBIAN_DIR}/lumets.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME lumets COMPONENT runtime)
install(FILES ${LUMETS_DEBIAN_DIR}/lumets-dev.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME lumets-dev COMPONENT dev)

# find_package(lumets) for programs built against the host library.
include(CMakePackageConfigHelpers)
set(LUMETS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/lumets)
install(EXPORT lumets_targets NAMESPACE lumets:: FILE lumetsTargets.cmake DESTINATION ${LUMETS_CMAKE_DIR}
        COMPONENT dev)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/lumetsConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/packaging/lumetsConfig.cmake INSTALL_DESTINATION ${LUMETS_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/lumetsConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/packaging/lumetsConfig.cmake ${CMAKE_BINARY_DIR}/packaging/lumetsConfigVersion.cmake
        DESTINATION ${LUMETS_CMAKE_DIR} COMPONENT dev)
# pkg-config: the prefix is found from the .pc file's own folder, so the file
# is right wherever the tree is installed or moved to.
file(RELATIVE_PATH LUMETS_PC_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" LUMETS_PC_PREFIX "${LUMETS_PC_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/lumets_host.pc.in ${CMAKE_BINARY_DIR}/packaging/lumets_host.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/lumets_host.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumets)
set(CPACK_PACKAGE_VENDOR "lumets developers")
set(CPACK_PACKAGE_CONTACT "${LUMETS_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LUMETS_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_LICENSE Apache-2.0)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME lumets)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION graphics)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "2D particle system for compositing, with the lumets command-line host
Renders particle flows (JSON) to image files with the Lumet-s particle tool,
records particle motion to .lpd files and plays it back. Also holds the host
library, the particle plug-in and a frei0r filter for ffmpeg, MLT and
GStreamer.")
if(TARGET lumets_python)
  string(APPEND CPACK_COMPONENT_RUNTIME_DESCRIPTION "
The Python module lumets drives flows and gives frames as NumPy arrays.")
endif()
# Package dependencies from the shared libraries the programs link (dpkg-shlibdeps);
# our own host library is found in the build tree. The shlibs file lets other
# packages' programs that link the host library depend on this package.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
# The Python module is built for one interpreter version and imports NumPy.
if(TARGET lumets_python)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${LUMETS_PYTHON_DEB_DEPENDS}")
endif()
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# ldconfig runs through dpkg's trigger when the library is installed or removed.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${LUMETS_DEBIAN_DIR}/triggers)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME lumets-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "lumets (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "2D particle system for compositing - host library development files
Headers, the unversioned link of the lumets host library, a CMake package
configuration (find_package(lumets), target lumets::host) and a pkg-config
file (lumets_host), for programs that load the Lumet-s particle plug-in
through the host library.")
include(CPack)
