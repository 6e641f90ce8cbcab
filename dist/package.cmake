# What the Debian package says about itself, read by CPack (included from the top level,
# before the dist/ folder and CPack). The package holds what dist/ installs.

set(TAVO_MAINTAINER "TAVOFlash developers <dev@tavoflash.invalid>")
# Date of the release named by the project version: the metadata, the changelog and the
# manuals carry it, so that a rebuild gives the same files.
set(TAVO_RELEASE_DATE "2026-12-09")

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "tavoflash")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "TAVOFlash developers")
set(CPACK_PACKAGE_CONTACT "${TAVO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rewrite the firmware of a CD/DVD drive")
set(CPACK_PACKAGE_DESCRIPTION
    "TAVOFlash rewrites the firmware of an optical (CD/DVD) drive with the firmware
image built into the program. It checks that the chosen drive may take the
image, downloads it bank by bank, commits it, waits for the drive to come back
and verifies a read-back checksum.

The package holds the window (tavoflash) and the same procedure in a terminal
(tavoflash-cli). Both can attach virtual drives instead of real ones to show
the whole procedure without a matching drive.")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TAVO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Run-time libraries (Qt, libsystemd, libarchive for the support report, zlib for the
# flight recordings) are found by dpkg-shlibdeps from the programs themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The completion of tavoflash-cli's options and profile names needs bash-completion's loader.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Directories the package creates: rwxr-xr-x whatever the builder's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
