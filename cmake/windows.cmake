# What makes terralux.exe a Windows application, and the two ways it ships:
#   terralux.exe's resources  the icon (every size in one terralux.ico, from the icons that
#                             desktop.cmake draws), the version information, the manifest
#   windows_zip               TERRALUX_WINDOWS_DIST/terralux-VERSION-windows-x64.zip: the folder
#                             terralux-VERSION with the program, what it reads, README.txt and
#                             LICENSE.txt
#   windows_installer         TERRALUX_WINDOWS_DIST/terralux-VERSION-setup.exe: the same files,
#                             installed for one user by NSIS (packaging/windows/terralux.nsi)
# Both are made again at each build of their target. Included by CMakeLists.txt on WIN32, after the terralux, assets and icons
# targets.
#
# Run as a script (cmake -DDIST=... -DNAME=... -DZIP=... -DSOURCE=... -P windows.cmake), this file
# zips DIST/NAME into ZIP with the files' times and order fixed, so that two builds of one commit
# give the same zip: times are SOURCE_DATE_EPOCH's, or else the time of the release's entry in
# debian/changelog.
if(CMAKE_SCRIPT_MODE_FILE)
    set(epoch "$ENV{SOURCE_DATE_EPOCH}")
    if(epoch STREQUAL "")
        # As Debian's builds do: the time of the newest entry of debian/changelog.
        execute_process(COMMAND dpkg-parsechangelog -l "${SOURCE}/debian/changelog" -STimestamp
            OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    endif()
    file(REMOVE "${ZIP}")
    execute_process(COMMAND zip -q -r -X "${ZIP}" "${NAME}" WORKING_DIRECTORY "${DIST}"
        COMMAND_ERROR_IS_FATAL ANY)
    # Sorted members, one time for all, and no extra fields but normalised ones. The zip format
    # keeps local time: UTC it is.
    execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC
        strip-nondeterminism --type zip --timestamp "${epoch}" "${ZIP}"
        COMMAND_ERROR_IS_FATAL ANY)
    return()
endif()

enable_language(RC)
set(TLX_WINDOWS_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging/windows)
set(TLX_WINDOWS_DIR ${CMAKE_BINARY_DIR}/windows)
# The copyright of terralux and its holders are debian/copyright's (its first Copyright field).
file(STRINGS ${PROJECT_SOURCE_DIR}/debian/copyright copyright REGEX "^Copyright: " LIMIT_COUNT 1)
string(REGEX REPLACE "^Copyright: " "Copyright " TLX_WINDOWS_COPYRIGHT "${copyright}")
string(REGEX REPLACE "^Copyright [-0-9, ]+ " "" TLX_WINDOWS_PUBLISHER "${TLX_WINDOWS_COPYRIGHT}")
set(TLX_WINDOWS_DESCRIPTION "terralux, an ${PROJECT_DESCRIPTION}")
set(TLX_WINDOWS_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
string(REPLACE "." "," TLX_WINDOWS_VERSION_COMMAS ${TLX_WINDOWS_VERSION})
set(TERRALUX_WINDOWS_DIST ${CMAKE_BINARY_DIR} CACHE PATH
    "Where windows_zip and windows_installer put the zip and the installer")

# The icon: desktop.cmake's sizes as they are, and 24 and 16 pixels scaled from the largest.
# The largest is stored as PNG inside the .ico, without its date.
if(NOT TARGET icons)
    message(FATAL_ERROR "terralux.exe's icon is made from desktop.cmake's icons, which need "
                        "ImageMagick and the Earth texture")
endif()
set(TLX_WINDOWS_ICON ${TLX_WINDOWS_DIR}/terralux.ico)
set(pngs "")
foreach(size IN LISTS TLX_ICON_SIZES)
    list(PREPEND pngs ${TLX_DESKTOP_DIR}/icons/${size}x${size}/apps/terralux.png)
endforeach()
list(GET pngs 0 largest)
add_custom_command(OUTPUT ${TLX_WINDOWS_ICON}
    COMMAND ${TLX_MAGICK} ${pngs} ( ${largest} -resize 24x24 ) ( ${largest} -resize 16x16 )
            -strip -define png:exclude-chunks=date,time ${TLX_WINDOWS_ICON}
    DEPENDS icons ${pngs}
    COMMENT "Making terralux.ico"
    VERBATIM)

set(TLX_WINDOWS_MANIFEST ${TLX_WINDOWS_DIR}/terralux.manifest)
configure_file(${TLX_WINDOWS_PACKAGING_DIR}/terralux.manifest.in ${TLX_WINDOWS_MANIFEST} @ONLY)
set(rc ${TLX_WINDOWS_DIR}/terralux.rc)
configure_file(${TLX_WINDOWS_PACKAGING_DIR}/terralux.rc.in ${rc} @ONLY)
set_source_files_properties(${rc} PROPERTIES
    OBJECT_DEPENDS "${TLX_WINDOWS_ICON};${TLX_WINDOWS_MANIFEST}")
target_sources(terralux PRIVATE ${rc})

# For the people who use it: what terralux is and how to start it, and the licences of all that
# ships. The licence texts of terralux and of the Blue Marble image are debian/copyright's.
function(tlx_copyright_license name out)
    file(STRINGS ${PROJECT_SOURCE_DIR}/debian/copyright lines)
    set(text "")
    set(inside FALSE)
    foreach(line IN LISTS lines)
        if(line STREQUAL "License: ${name}")
            set(inside TRUE)
        elseif(inside AND line MATCHES "^ (.*)$")
            if(CMAKE_MATCH_1 STREQUAL ".")
                string(APPEND text "\n")
            else()
                string(APPEND text "${CMAKE_MATCH_1}\n")
            endif()
        else()
            set(inside FALSE)
        endif()
    endforeach()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()
tlx_copyright_license(MIT TLX_LICENSE_MIT)
tlx_copyright_license(NASA-not-copyrighted TLX_LICENSE_NASA)
file(READ /usr/share/common-licenses/LGPL-2.1 TLX_LICENSE_LGPL)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/debian/copyright)
set(docs ${TLX_WINDOWS_DIR}/README.txt ${TLX_WINDOWS_DIR}/LICENSE.txt)
foreach(doc IN LISTS docs)
    get_filename_component(name ${doc} NAME)
    configure_file(${TLX_WINDOWS_PACKAGING_DIR}/${name}.in ${doc} @ONLY NEWLINE_STYLE CRLF)
endforeach()

# The shipped folder: the program and its DLLs, the documents, the default config.xml, and the
# run directory's textures and audio, each listed (the run directory holds test programs too).
# config.xml is the installer's own case (terralux.nsi); the installer's lists of the others and
# of their directories go to files.nsh.
set(TLX_WINDOWS_NAME terralux-${PROJECT_VERSION})
set(dist ${TLX_WINDOWS_DIR}/dist)
set(stage ${dist}/${TLX_WINDOWS_NAME})
set(sources $<TARGET_FILE:terralux>)
set(paths $<TARGET_FILE_NAME:terralux>)
foreach(file IN LISTS TLX_WINDOWS_DLLS docs)
    get_filename_component(name ${file} NAME)
    list(APPEND sources ${file})
    list(APPEND paths ${name})
endforeach()
foreach(asset IN LISTS TLX_ASSETS)
    if(NOT asset STREQUAL ${TLX_RUN_DIR}/config.xml)
        file(RELATIVE_PATH path ${TLX_RUN_DIR} ${asset})
        list(APPEND sources ${asset})
        list(APPEND paths ${path})
    endif()
endforeach()
set(copies COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/data/config.xml ${stage})
set(stage_dirs ${stage})
set(installs "SetOutPath \"$INSTDIR\"\n")
set(removals "")
set(dirs "")
foreach(source path IN ZIP_LISTS sources paths)
    list(APPEND copies COMMAND ${CMAKE_COMMAND} -E copy ${source} ${stage}/${path})
    get_filename_component(dir ${path} DIRECTORY)
    string(REPLACE "/" "\\" path ${path})
    if(NOT dir STREQUAL "")
        list(APPEND stage_dirs ${stage}/${dir})
        string(REPLACE "/" "\\" dir ${dir})
        list(APPEND dirs ${dir})
        string(APPEND installs "SetOutPath \"$INSTDIR\\${dir}\"\n")
    endif()
    string(APPEND installs "File \"${path}\"\n")
    string(APPEND removals "Delete \"$INSTDIR\\${path}\"\n")
endforeach()
list(REMOVE_DUPLICATES stage_dirs)
list(REMOVE_DUPLICATES dirs)
list(REVERSE dirs)
foreach(dir IN LISTS dirs)
    string(APPEND removals "RMDir \"$INSTDIR\\${dir}\"\n")
endforeach()
set(TLX_WINDOWS_FILES ${TLX_WINDOWS_DIR}/files.nsh)
file(GENERATE OUTPUT ${TLX_WINDOWS_FILES} CONTENT
"; The shipped files but config.xml, and their directories, from cmake/windows.cmake.
!macro TLX_INSTALL_FILES
${installs}!macroend
!macro TLX_REMOVE_FILES
${removals}!macroend
")

find_program(TLX_ZIP zip)
find_program(TLX_STRIP_NONDETERMINISM strip-nondeterminism)
find_program(TLX_MAKENSIS makensis)
if(NOT TLX_ZIP OR NOT TLX_STRIP_NONDETERMINISM OR NOT TLX_MAKENSIS)
    message(WARNING "windows_zip and windows_installer are not made: they need zip, "
                    "strip-nondeterminism and makensis (Debian packages zip, "
                    "strip-nondeterminism and nsis)")
    return()
endif()

set(TLX_WINDOWS_ZIP ${TERRALUX_WINDOWS_DIST}/${TLX_WINDOWS_NAME}-windows-x64.zip
    CACHE INTERNAL "The portable zip")
add_custom_target(windows_zip
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage_dirs}
    ${copies}
    COMMAND ${CMAKE_COMMAND} -DDIST=${dist} -DNAME=${TLX_WINDOWS_NAME} -DZIP=${TLX_WINDOWS_ZIP}
            -DSOURCE=${PROJECT_SOURCE_DIR} -P ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Making ${TLX_WINDOWS_ZIP}"
    VERBATIM)
add_dependencies(windows_zip terralux assets)

set(TLX_WINDOWS_INSTALLER ${TERRALUX_WINDOWS_DIST}/${TLX_WINDOWS_NAME}-setup.exe
    CACHE INTERNAL "The installer")
add_custom_target(windows_installer
    COMMAND ${TLX_MAKENSIS} -V2 -WX -NOCD -DVERSION=${PROJECT_VERSION}
            -DVERSION4=${TLX_WINDOWS_VERSION} -DPUBLISHER=${TLX_WINDOWS_PUBLISHER}
            -DCOPYRIGHT=${TLX_WINDOWS_COPYRIGHT} -DDESCRIPTION=${TLX_WINDOWS_DESCRIPTION}
            -DHOMEPAGE=${PROJECT_HOMEPAGE_URL} -DICON=${TLX_WINDOWS_ICON}
            -DFILES=${TLX_WINDOWS_FILES} -DOUTFILE=${TLX_WINDOWS_INSTALLER}
            ${TLX_WINDOWS_PACKAGING_DIR}/terralux.nsi
    WORKING_DIRECTORY ${stage}
    COMMENT "Making ${TLX_WINDOWS_INSTALLER}"
    VERBATIM)
# The zip's target makes the folder that the installer takes its files from.
add_dependencies(windows_installer windows_zip)
