# The Debian package velmora-ripper: "cpack -G DEB" in the build folder packs what
# "cmake --install" installs, under /usr. scripts/package builds it and checks it.

# The home page and the support address come from the program's own record, so that the
# package and the About texts cannot drift apart; its version must be the project's.
file(STRINGS ${CMAKE_SOURCE_DIR}/platform/AppInfo.h app_info_lines
    REGEX "(Version|HomePage|SupportAddress) = \"")
foreach(line IN LISTS app_info_lines)
    if(line MATCHES "([A-Za-z]+) = \"([^\"]*)\"")
        set(app_info_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
    endif()
endforeach()
if(NOT app_info_Version STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "platform/AppInfo.h says version '${app_info_Version}', "
        "the project ${PROJECT_VERSION}: make them equal")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora-ripper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_CONTACT "The Velmora developers <${app_info_SupportAddress}>")
set(CPACK_PACKAGE_HOMEPAGE_URL "${app_info_HomePage}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio CD ripper to WAV and MP3 files, desktop and command line")
set(CPACK_PACKAGE_DESCRIPTION [=[
Velmora lists the tracks of an audio CD, plays them, and extracts the
tracks you tick to WAV files or to MP3 files that carry the track's title
in an ID3 tag. Track titles can be edited and kept in a disc information
file. Extraction goes through libcdio and is bit-exact: a sector that
cannot be read becomes silence of the right length and is reported.

The package holds the desktop program velmora-ripper, the command-line
ripper velmora-rip for scripts and machines without a display, and their
two private libraries. Disc images (.cue with .bin, .toc, .nrg) can stand
in for discs.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Directories that the install creates get 0755 whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies on shared libraries are read from the programs by dpkg-shlibdeps. Our two
# libraries are in the package itself; the build's lib folder lets it find them too.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
# What no program links, so that dpkg-shlibdeps cannot see it: Qt's platform plugins,
# without which the window cannot open on X11 or Wayland, and SDL2, which libcdrip
# opens with dlopen for playback (without it, playback runs on a silent clock). The
# Options dialog is laid out for Arial's metrics; Liberation Sans has the same.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsdl2-2.0-0")

include(CPack)
