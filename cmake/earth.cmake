# Converts the Blue Marble image into textures/earth.tga, a run-length-encoded 24-bit TGA whose
# rows really run in the order its header gives. Run as a script:
#   cmake -DMAGICK=... -DSRC=earth.jpg -DDST=earth.tga -P earth.cmake
#
# Some ImageMagick versions write TGA rows top row first while the header claims a bottom-left
# origin. A 1x2 probe (red above blue) written with the same options tells whether they do here:
# its first stored pixel is red when the rows start at the top. If that disagrees with the
# origin bit (0x20 in byte 17, set for top-left), the picture is flipped before it is written.
set(options -orient BottomLeft -type TrueColor -alpha off -depth 8)
get_filename_component(dir "${DST}" DIRECTORY)
set(probe "${dir}/earth-probe.tga")
execute_process(
    COMMAND "${MAGICK}" -size 1x1 xc:red xc:blue -append ${options} -compress None "${probe}"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "ImageMagick could not write the orientation probe")
endif()
file(READ "${probe}" header HEX OFFSET 17 LIMIT 4)  # descriptor, then the first pixel's B G R
file(REMOVE "${probe}")
string(SUBSTRING "${header}" 0 2 descriptor)
string(SUBSTRING "${header}" 2 6 first_pixel)
math(EXPR top_declared "(0x${descriptor} >> 5) & 1")
if(first_pixel STREQUAL "0000ff")
    set(top_stored 1)
elseif(first_pixel STREQUAL "ff0000")
    set(top_stored 0)
else()
    message(FATAL_ERROR "unexpected orientation probe pixel ${first_pixel}")
endif()
set(flip)
if(NOT top_declared EQUAL top_stored)
    set(flip -flip)
    message(STATUS "earth.tga: this ImageMagick stores rows against its header's origin; "
                   "the picture is flipped first")
endif()
execute_process(COMMAND "${MAGICK}" "${SRC}" ${flip} ${options} -compress RLE "${DST}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "ImageMagick could not convert ${SRC}")
endif()
