# Run-time assets, made at build time into ${TLX_RUN_DIR}:
#   textures/stars.tga, audio/hit.wav, audio/message.wav, audio/music.mid  by terralux_genassets
#   textures/earth.tga  NASA Blue Marble from Debian's xplanet-images, converted with ImageMagick
#   config.xml          the default settings, copied only while the run directory has none
#
# Run as a script (cmake -DSRC=... -DDST=... -P assets.cmake), this file copies SRC to DST when
# DST does not exist yet, so that a user's edits to the run directory's config.xml are kept.
if(CMAKE_SCRIPT_MODE_FILE)
    if(NOT EXISTS "${DST}")
        configure_file("${SRC}" "${DST}" COPYONLY)
    endif()
    return()
endif()

tlx_build_tool(terralux_genassets ${PROJECT_SOURCE_DIR}/tools/genassets.cpp)

set(TLX_GENERATED_ASSETS
    ${TLX_RUN_DIR}/textures/stars.tga
    ${TLX_RUN_DIR}/audio/hit.wav
    ${TLX_RUN_DIR}/audio/message.wav
    ${TLX_RUN_DIR}/audio/music.mid)
add_custom_command(OUTPUT ${TLX_GENERATED_ASSETS}
    COMMAND terralux_genassets ${TLX_RUN_DIR}
    DEPENDS terralux_genassets
    COMMENT "Generating the star field, the sound effects and the music"
    VERBATIM)
set(TLX_ASSETS ${TLX_GENERATED_ASSETS})

# The Blue Marble image, converted by ImageMagick (earth.cmake finds out which way it stores rows).
set(TLX_EARTH_SOURCE /usr/share/xplanet/images/earth.jpg)
find_program(TLX_MAGICK NAMES magick convert)
if(TLX_MAGICK AND EXISTS ${TLX_EARTH_SOURCE})
    add_custom_command(OUTPUT ${TLX_RUN_DIR}/textures/earth.tga
        COMMAND ${CMAKE_COMMAND} -E make_directory ${TLX_RUN_DIR}/textures
        COMMAND ${CMAKE_COMMAND} -DMAGICK=${TLX_MAGICK} -DSRC=${TLX_EARTH_SOURCE}
                -DDST=${TLX_RUN_DIR}/textures/earth.tga -P ${CMAKE_CURRENT_LIST_DIR}/earth.cmake
        DEPENDS ${TLX_EARTH_SOURCE} ${CMAKE_CURRENT_LIST_DIR}/earth.cmake
        COMMENT "Converting the Blue Marble image to textures/earth.tga"
        VERBATIM)
    list(APPEND TLX_ASSETS ${TLX_RUN_DIR}/textures/earth.tga)
else()
    message(WARNING "textures/earth.tga is not made: it needs ImageMagick (convert) and "
                    "${TLX_EARTH_SOURCE} (Debian packages imagemagick and xplanet-images)")
endif()

# No dependency on the source file: once the run directory has a config.xml, it is the user's.
add_custom_command(OUTPUT ${TLX_RUN_DIR}/config.xml
    COMMAND ${CMAKE_COMMAND} -DSRC=${PROJECT_SOURCE_DIR}/data/config.xml
            -DDST=${TLX_RUN_DIR}/config.xml -P ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Placing the default config.xml in the run directory"
    VERBATIM)
list(APPEND TLX_ASSETS ${TLX_RUN_DIR}/config.xml)

add_custom_target(assets ALL DEPENDS ${TLX_ASSETS})
add_dependencies(terralux assets)
