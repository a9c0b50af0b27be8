# Install rules for the programs and their manual pages, and the Debian package
# that CPack builds from them.
include(GNUInstallDirs)

foreach(tool Mtxmake Mtxdump Mtxtrim)
  install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/${tool}.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mtxtools)
set(CPACK_PACKAGE_VENDOR "mtxtools")
set(CPACK_PACKAGE_CONTACT "mtxtools developers <mtxtools@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tools to build, inspect and compact MTX texture packages")
set(CPACK_PACKAGE_DESCRIPTION
  "Mtxmake builds a texture package from GIF, JPEG, PCX, PNG, TGA and DDS files,\nMtxdump lists packages and extracts their textures as TGA, PCX, DDS or PNG files,\nMtxtrim compacts every package below a directory.")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# Depends is computed from the programs' shared libraries by dpkg-shlibdeps (dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES TRUE)
include(CPack)
