# What makes terralux a desktop application, made at build time and installed with it:
#   share/applications/terralux.desktop             the menu entry
#   share/icons/hicolor/NxN/apps/terralux.png       the icon: a lit globe drawn from earth.tga
#   share/metainfo/ID.metainfo.xml                  AppStream metadata
#   share/man/man1/terralux.1                       the manual page, its tables from README.md
# A Windows build makes the icons alone, from which cmake/windows.cmake makes the program's.

# The AppStream id: the home page's domain name reversed (see project()); once published it
# must never change.
set(TLX_APPSTREAM_ID org.example.terralux)
set(TLX_ICON_SIZES 32 48 64 128 256)
set(TLX_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(TLX_DESKTOP_DIR ${CMAKE_BINARY_DIR}/desktop)

# The icons: one large globe, scaled down to each size. They need the Earth texture.
if(${TLX_RUN_DIR}/textures/earth.tga IN_LIST TLX_ASSETS)
    tlx_build_tool(terralux_genicon ${PROJECT_SOURCE_DIR}/tools/genicon.cpp tlx_tga ${GL_LIBRARY})
    set(globe ${TLX_DESKTOP_DIR}/globe.pam)
    set(icons "")
    set(scale_commands "")
    foreach(size IN LISTS TLX_ICON_SIZES)
        set(dir ${TLX_DESKTOP_DIR}/icons/${size}x${size}/apps)
        list(APPEND icons ${dir}/terralux.png)
        list(APPEND scale_commands
            COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
            COMMAND ${TLX_MAGICK} ${globe} -resize ${size}x${size} -strip
                    -define png:exclude-chunks=date,time ${dir}/terralux.png)
    endforeach()
    add_custom_command(OUTPUT ${icons}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${TLX_DESKTOP_DIR}
        COMMAND terralux_genicon ${TLX_RUN_DIR}/textures/earth.tga 1024 ${globe}
        ${scale_commands}
        # The texture is made by the assets target (a second rule for it here could run at the
        # same time as the first), so this follows that target and the texture's own source.
        DEPENDS terralux_genicon assets ${TLX_EARTH_SOURCE}
        COMMENT "Drawing the icons"
        VERBATIM)
    add_custom_target(icons ALL DEPENDS ${icons})
endif()

if(WIN32)
    return()
endif()
if(TARGET icons)
    install(DIRECTORY ${TLX_DESKTOP_DIR}/icons/ DESTINATION share/icons/hicolor)
endif()

install(FILES ${TLX_PACKAGING_DIR}/terralux.desktop DESTINATION share/applications)

configure_file(${TLX_PACKAGING_DIR}/terralux.metainfo.xml.in
    ${TLX_DESKTOP_DIR}/${TLX_APPSTREAM_ID}.metainfo.xml @ONLY)
install(FILES ${TLX_DESKTOP_DIR}/${TLX_APPSTREAM_ID}.metainfo.xml DESTINATION share/metainfo)

set(page ${TLX_DESKTOP_DIR}/terralux.1)
add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -DREADME=${PROJECT_SOURCE_DIR}/README.md
            -DTEMPLATE=${TLX_PACKAGING_DIR}/terralux.1.in -DOUTPUT=${page}
            -DVERSION=${PROJECT_VERSION} -DSUMMARY=${PROJECT_DESCRIPTION}
            -DDATADIR=${CMAKE_INSTALL_PREFIX}/${TLX_DATA_DIR}
            -P ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${TLX_PACKAGING_DIR}/terralux.1.in
            ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake
    COMMENT "Making the manual page"
    VERBATIM)
add_custom_target(manpage ALL DEPENDS ${page})
install(FILES ${page} DESTINATION share/man/man1)
