# What `cmake --install` puts where (GNUInstallDirs folders), and the Debian
# package CPack makes of it. Modules of other folders (frei0r/) add their own
# install rules; the package takes everything installed.
if(TARGET lumets)
  install(TARGETS lumets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS lumets_host LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/host/include/host DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/lumets)
install(TARGETS lumets_particles LIBRARY DESTINATION ${LUMETS_INSTALL_PLUGINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/CHANGELOG.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        PATTERN "out" EXCLUDE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumets)
set(CPACK_PACKAGE_VENDOR "lumets developers")
set(CPACK_PACKAGE_CONTACT "lumets developers <lumets@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "2D particle system for compositing, with the lumets command-line host")
set(CPACK_PACKAGE_DESCRIPTION "Renders particle flows (JSON) to image files with the Lumet-s particle tool, \
records particle motion to .lpd files and plays it back.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_LICENSE Apache-2.0)
# Package dependencies from the shared libraries the programs link (dpkg-shlibdeps);
# our own host library is found in the build tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR})
include(CPack)
