# Installation and the Debian package: the viewer and the converter, their
# manual pages, the desktop entries (the viewer's, and "Open with voxscope"
# through vxlconv --view for .vox and binvox files) and the example models,
# in the usual places under the prefix; the renderer and its file types below.
include(GNUInstallDirs)

install(TARGETS voxscope vxlconv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The OpenVDB module, where vxlconv and vxlrender look for it from bin.
install(TARGETS voxscope_vdb LIBRARY DESTINATION ${VOXSCOPE_MODULE_DIR})
install(FILES docs/man/voxscope.1 docs/man/vxlconv.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES docs/voxscope.desktop data/vxlconv-view.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES examples/terrain.vxl examples/scene.vox
        DESTINATION ${CMAKE_INSTALL_DATADIR}/voxscope/examples)

# vxlrender, the file types and their thumbnails: the program and its page,
# the shared-mime-info types model/x-vxl, model/x-magicavoxel and
# model/x-binvox, the thumbnailer entry file managers
# run it from, and the icons (drawn by vxlrender from the bundled example,
# tools/make_icons.sh) for the program and the file type. The Debian package
# needs no scripts for them: shared-mime-info and the icon theme rebuild
# their caches from dpkg triggers on these folders.
install(TARGETS vxlrender RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES docs/man/vxlrender.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES data/voxscope-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME voxscope.xml)
install(FILES data/vxlrender.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
foreach(size 16 22 24 32 48 64 128 256)
    foreach(icon apps/voxscope mimetypes/model-x-vxl)
        get_filename_component(icon_dir ${icon} DIRECTORY)
        get_filename_component(icon_name ${icon} NAME)
        install(FILES data/icons/voxscope-${size}.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/${icon_dir}
                RENAME ${icon_name}.png)
    endforeach()
endforeach()
install(FILES data/icons/voxscope.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES data/icons/voxscope.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/mimetypes
        RENAME model-x-vxl.svg)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME voxscope)
set(CPACK_PACKAGE_VERSION 0.1.0)
set(CPACK_PACKAGE_CONTACT "voxscope developers <voxscope@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fast, exact viewer for voxel sets, with a converter and a renderer")
set(CPACK_PACKAGE_DESCRIPTION
    "voxscope shows every voxel of a voxel text file as a coloured cube, with a trackball, pan, zoom and re-framing. vxlconv turns meshes, point clouds and MagicaVoxel files into voxel files. vxlrender draws a voxel file to a PNG picture with no display, and makes the desktop's thumbnails of .vxl, MagicaVoxel .vox and binvox files.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "voxscope developers <voxscope@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps works out the library packages the three programs need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
