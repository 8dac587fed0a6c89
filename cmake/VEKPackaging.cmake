# The Debian package (cpack -G DEB in the build folder): everything that
# `cmake --install` puts in place, under /usr. Runtime dependencies come from
# dpkg-shlibdeps. No maintainer scripts: the shared MIME database, the
# gdk-pixbuf loader cache, the desktop and icon caches and the manual page
# index are refreshed by the triggers that their Debian packages hold on the
# folders our files go to.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vek)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "VEK developers")
set(CPACK_PACKAGE_CONTACT "VEK developers <vek@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "lossless compressor and viewer for BMP pictures (.vek files)")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
 VEK turns a BMP picture into a much smaller .vek file and gives back the
 same colour table and pixel bytes. The package holds the codec library
 libvek (with its header, pkg-config file and CMake package), the console
 converter vekconv, the viewer Sorvu, the image/x-vek MIME type, and a
 gdk-pixbuf loader with a thumbnailer entry, so that GTK image viewers and
 file managers show .vek pictures.")
if(VEK_BUILD_PYTHON)
  string(APPEND CPACK_DEBIAN_PACKAGE_DESCRIPTION "
 .
 The Python 3 package vek encodes and decodes .vek files, reads them into
 numpy arrays, opens and saves them through Pillow, and converts folder
 trees (python3 -m vek convert) with local processes or a Dask cluster.")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# The thumbnailer entry runs gdk-pixbuf-thumbnailer; the MIME type needs the
# shared MIME database.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, libgdk-pixbuf2.0-bin")
if(VEK_BUILD_PYTHON)
  # The extension module is built for one Python version. numpy (vek.read),
  # Pillow (the plugin) and tqdm (the progress bar) are used when present;
  # Dask distributed only for --scheduler.
  math(EXPR python_next_minor "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}), python3 (<< ${Python3_VERSION_MAJOR}.${python_next_minor})")
  string(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS ", python3-numpy, python3-pil, python3-tqdm")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS python3-distributed)
endif()
include(CPack)
