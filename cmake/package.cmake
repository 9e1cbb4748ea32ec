# The Debian binary package, made by `cpack` in the build directory from what `cmake --install`
# places under /usr (scripts/package drives it). Its version is the project's; dpkg-shlibdeps
# works out the libraries' packages from the program itself. The music needs a General MIDI
# sound font: SDL_mixer's FluidSynth reads /usr/share/sounds/sf3/default-GM.sf3, which each of
# these packages provides.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME terralux)
set(CPACK_PACKAGE_CONTACT ${TLX_MAINTAINER})
# The extended description, in lines of at most 79 characters as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION [[
terralux opens one OpenGL window with a star backdrop and a textured Earth lit
by a light that circles it, with yellow markers at fixed places and a
great-circle trace that travels towards its destination. The view turns and
zooms with the mouse and the keys; a right click sends the trace to a marker
or to any point of the globe.

Each user's settings live in ~/.config/terralux/config.xml, copied from the
default on the first start.]])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "timgm6mb-soundfont | fluid-soundfont-gm | musescore-general-soundfont-small | sf3-soundfont-gm")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
