# Installation and the Debian package: the two programs, their manual pages,
# a desktop entry and the example model, in the usual places under the prefix.
include(GNUInstallDirs)

install(TARGETS voxscope vxlconv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES docs/man/voxscope.1 docs/man/vxlconv.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES docs/voxscope.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES examples/terrain.vxl examples/scene.vox
        DESTINATION ${CMAKE_INSTALL_DATADIR}/voxscope/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME voxscope)
set(CPACK_PACKAGE_VERSION 0.1.0)
set(CPACK_PACKAGE_CONTACT "voxscope developers <voxscope@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fast, exact viewer for voxel sets, with a converter")
set(CPACK_PACKAGE_DESCRIPTION
    "voxscope shows every voxel of a voxel text file as a coloured cube, with a trackball, pan, zoom and re-framing. vxlconv turns meshes, point clouds and MagicaVoxel files into voxel files.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "voxscope developers <voxscope@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps works out the library packages the two programs need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
