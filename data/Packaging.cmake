# `cpack -G DEB` builds the Debian package from the install rules (data/CMakeLists.txt). Its dependencies
# are read from the binaries by dpkg-shlibdeps, never kept by hand.
set(CPACK_PACKAGE_NAME kavrel)
set(CPACK_PACKAGE_VENDOR "Kavrel 开发组")
set(CPACK_PACKAGE_CONTACT "Kavrel 开发组 <feedback@kavrel.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "screenshot tool and picture viewer")
set(CPACK_PACKAGE_DESCRIPTION
"Kavrel captures the whole desktop, the active window, the window or control
under the mouse, or a rectangle dragged on a frozen copy of the screen, puts
the capture on the clipboard and shows it in an image window. It opens
Windows bitmap, JPEG, icon, metafile, TIFF, GIF, Targa, PCX, Photoshop, SGI,
Autodesk, PBM/PGM/PPM, Photo-CD, Dr. Halo and Wavefront RLA pictures. The
command-line tool kavrel-cli converts pictures and captures the screen.")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.kavrel.example.org/")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded by name at run time, so shlibdeps cannot see them: the Chinese menus need a CJK font, Qt's own
# dialogs their Chinese translations.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
