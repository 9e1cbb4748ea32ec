# What makes terralux a desktop application, made at build time and installed with it:
#   share/applications/terralux.desktop             the menu entry
#   share/icons/hicolor/NxN/apps/terralux.png       the icon: a lit globe drawn from earth.tga
#   share/metainfo/ID.metainfo.xml                  AppStream metadata
#   share/man/man1/terralux.1.gz                    the manual page, its tables from README.md
#   share/doc/terralux/copyright, changelog.gz      the documents every Debian package carries
#
# Run as a script (cmake -DSRC=FILE -P desktop.cmake), this file writes FILE.gz compressed as
# Debian wants it: at the best ratio, with no name or time stamp inside.
if(CMAKE_SCRIPT_MODE_FILE)
    execute_process(COMMAND gzip -9n -c "${SRC}" OUTPUT_FILE "${SRC}.gz" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "gzip ${SRC} failed: ${status}")
    endif()
    return()
endif()

# The AppStream id: the home page's domain name reversed (see project()); once published it
# must never change.
set(TLX_APPSTREAM_ID org.example.terralux)
set(TLX_MAINTAINER "terralux developers <maintainers@users.noreply.c-seed-5897b96f.example>")
set(TLX_ICON_SIZES 32 48 64 128 256)
set(TLX_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(TLX_DESKTOP_DIR ${CMAKE_BINARY_DIR}/desktop)

install(FILES ${TLX_PACKAGING_DIR}/terralux.desktop DESTINATION share/applications)

configure_file(${TLX_PACKAGING_DIR}/terralux.metainfo.xml.in
    ${TLX_DESKTOP_DIR}/${TLX_APPSTREAM_ID}.metainfo.xml @ONLY)
install(FILES ${TLX_DESKTOP_DIR}/${TLX_APPSTREAM_ID}.metainfo.xml DESTINATION share/metainfo)

# The icons: one large globe, scaled down to each size. They need the Earth texture.
if(${TLX_RUN_DIR}/textures/earth.tga IN_LIST TLX_ASSETS)
    add_executable(terralux_genicon ${PROJECT_SOURCE_DIR}/tools/genicon.cpp)
    target_link_libraries(terralux_genicon PRIVATE tlx_tga ${GL_LIBRARY})
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
        COMMAND terralux_genicon ${TLX_RUN_DIR}/textures/earth.tga 1024 ${globe}
        ${scale_commands}
        # The texture is made by the assets target (a second rule for it here could run at the
        # same time as the first), so this follows that target and the texture's own source.
        DEPENDS terralux_genicon assets ${TLX_EARTH_SOURCE}
        COMMENT "Drawing the icons"
        VERBATIM)
    add_custom_target(icons ALL DEPENDS ${icons})
    install(DIRECTORY ${TLX_DESKTOP_DIR}/icons/ DESTINATION share/icons/hicolor)
endif()

set(page ${TLX_DESKTOP_DIR}/terralux.1)
add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -DREADME=${PROJECT_SOURCE_DIR}/README.md
            -DTEMPLATE=${TLX_PACKAGING_DIR}/terralux.1.in -DOUTPUT=${page}
            -DVERSION=${PROJECT_VERSION} -DSUMMARY=${PROJECT_DESCRIPTION}
            -DDATADIR=${CMAKE_INSTALL_PREFIX}/${TLX_DATA_DIR}
            -P ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake
    COMMAND ${CMAKE_COMMAND} -DSRC=${page} -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${TLX_PACKAGING_DIR}/terralux.1.in
            ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake
    COMMENT "Making the manual page"
    VERBATIM)

string(TIMESTAMP TLX_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${TLX_PACKAGING_DIR}/changelog.in ${TLX_DESKTOP_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${TLX_DESKTOP_DIR}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -DSRC=${TLX_DESKTOP_DIR}/changelog -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS ${TLX_DESKTOP_DIR}/changelog
    VERBATIM)

add_custom_target(docs ALL DEPENDS ${page}.gz ${TLX_DESKTOP_DIR}/changelog.gz)
install(FILES ${page}.gz DESTINATION share/man/man1)
install(FILES ${TLX_PACKAGING_DIR}/copyright ${TLX_DESKTOP_DIR}/changelog.gz
    DESTINATION share/doc/terralux)
