# Cross build for 64-bit Windows with Debian's MinGW-w64 (scripts/windows): the compilers of the
# posix thread model, which gives std::thread and std::mutex; the libraries and headers of the
# dependencies built into build/windows/deps; the programs built for Windows run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

get_filename_component(tlx_windows_build ${CMAKE_CURRENT_LIST_DIR}/../build/windows ABSOLUTE)
set(TERRALUX_WINDOWS_DEPS ${tlx_windows_build}/deps CACHE PATH
    "Install prefix of the Windows builds of SDL, SDL_mixer, TinyXML-2 and GoogleTest")
set(TERRALUX_WINEPREFIX ${tlx_windows_build}/wineprefix CACHE PATH
    "The Wine prefix that runs the Windows programs of the build and its tests")

# ld orders a program's imports by the file names of the import libraries (SORT(*) in its
# script), and MinGW-w64's own lie under /usr/lib/gcc. Named through /proc/self/root, which is /
# to every process, the dependencies' come first wherever the tree is, and two trees build the
# same program.
set(CMAKE_FIND_ROOT_PATH /proc/self/root${TERRALUX_WINDOWS_DEPS} /usr/x86_64-w64-mingw32)
set(ENV{PKG_CONFIG_SYSROOT_DIR} /proc/self/root)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} ${TERRALUX_WINDOWS_DEPS}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# No "wine:" hints on stderr (there is no 32-bit Wine), and a new prefix downloads nothing.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${TERRALUX_WINEPREFIX} WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml= wine)
