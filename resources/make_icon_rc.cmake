# Turns the drawing in printer_icon.txt into a resource script that holds
# the program's icon: one 32x32 image of 16 colours (icon resource 1) and
# the icon group 101 that names it. The script carries the bytes as raw
# data, so no binary file needs to be kept or written.
#
#   cmake -DINPUT=printer_icon.txt -DOUTPUT=pfmicon.rc -P make_icon_rc.cmake

if(NOT INPUT OR NOT OUTPUT)
  message(FATAL_ERROR "make_icon_rc.cmake needs -DINPUT=... and -DOUTPUT=...")
endif()

# The standard VGA palette as blue, green, red triples.
set(palette
  0x00 0x00 0x00   0x00 0x00 0x80   0x00 0x80 0x00   0x00 0x80 0x80
  0x80 0x00 0x00   0x80 0x00 0x80   0x80 0x80 0x00   0xC0 0xC0 0xC0
  0x80 0x80 0x80   0x00 0x00 0xFF   0x00 0xFF 0x00   0x00 0xFF 0xFF
  0xFF 0x00 0x00   0xFF 0x00 0xFF   0xFF 0xFF 0x00   0xFF 0xFF 0xFF)

file(STRINGS "${INPUT}" lines)
set(rows)
foreach(line IN LISTS lines)
  if(line MATCHES "^#" OR line STREQUAL "")
    continue()
  endif()
  if(NOT line MATCHES "^[0-9A-Fa-f.]+$")
    message(FATAL_ERROR "${INPUT}: a pixel row holds something other than 0-9, A-F and '.': ${line}")
  endif()
  string(LENGTH "${line}" width)
  if(NOT width EQUAL 32)
    message(FATAL_ERROR "${INPUT}: a pixel row is ${width} pixels wide, not 32: ${line}")
  endif()
  list(APPEND rows "${line}")
endforeach()
list(LENGTH rows height)
if(NOT height EQUAL 32)
  message(FATAL_ERROR "${INPUT}: ${height} pixel rows, not 32")
endif()

# BITMAPINFOHEADER: 40 bytes, 32 wide, 64 high (colour image and mask),
# one plane, 4 bits a pixel, no compression, 640 bytes of pixels.
set(bytes
  40 0 0 0   32 0 0 0   64 0 0 0   1 0   4 0   0 0 0 0
  0x80 0x02 0 0   0 0 0 0   0 0 0 0   0 0 0 0   0 0 0 0)
set(index 0)
while(index LESS 48)
  list(SUBLIST palette ${index} 3 colour)
  list(APPEND bytes ${colour} 0)
  math(EXPR index "${index} + 3")
endwhile()

# Both bitmaps run from the bottom row up. The colour image holds two
# pixels a byte, the first in the high half; the mask one bit a pixel,
# set where the icon is transparent.
set(colour_bytes)
set(mask_bytes)
set(y 31)
while(y GREATER_EQUAL 0)
  list(GET rows ${y} row)
  set(x 0)
  set(mask 0)
  while(x LESS 32)
    string(SUBSTRING "${row}" ${x} 2 pair)
    set(nibbles)
    foreach(offset 0 1)
      string(SUBSTRING "${pair}" ${offset} 1 pixel)
      math(EXPR bit "7 - (${x} + ${offset}) % 8")
      if(pixel STREQUAL ".")
        list(APPEND nibbles 0)
        math(EXPR mask "${mask} | (1 << ${bit})")
      else()
        math(EXPR value "0x${pixel}")
        list(APPEND nibbles ${value})
      endif()
    endforeach()
    list(GET nibbles 0 high)
    list(GET nibbles 1 low)
    math(EXPR value "(${high} << 4) | ${low}")
    list(APPEND colour_bytes ${value})
    math(EXPR x "${x} + 2")
    math(EXPR boundary "${x} % 8")
    if(boundary EQUAL 0)
      list(APPEND mask_bytes ${mask})
      set(mask 0)
    endif()
  endwhile()
  math(EXPR y "${y} - 1")
endwhile()
list(APPEND bytes ${colour_bytes} ${mask_bytes})

list(LENGTH bytes image_size)
if(NOT image_size EQUAL 744)
  message(FATAL_ERROR "make_icon_rc.cmake: the image came to ${image_size} bytes, not 744")
endif()

# Raw resource data is written as 16-bit little-endian words.
function(append_words out_var)
  set(text "")
  set(column 0)
  list(LENGTH ARGN count)
  set(i 0)
  while(i LESS count)
    list(GET ARGN ${i} low)
    math(EXPR next "${i} + 1")
    list(GET ARGN ${next} high)
    math(EXPR word "(${high} << 8) | ${low}" OUTPUT_FORMAT HEXADECIMAL)
    if(column EQUAL 0)
      string(APPEND text "  ")
    endif()
    string(APPEND text "${word}")
    math(EXPR i "${i} + 2")
    if(i LESS count)
      string(APPEND text ",")
    endif()
    math(EXPR column "(${column} + 1) % 12")
    if(column EQUAL 0 OR NOT i LESS count)
      string(APPEND text "\n")
    else()
      string(APPEND text " ")
    endif()
  endwhile()
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

append_words(image_words ${bytes})
# GRPICONDIR and its one entry: 32x32, 16 colours, one plane, 4 bits,
# 744 bytes, icon resource 1.
append_words(group_words
  0 0   1 0   1 0
  32 32 16 0   1 0   4 0   0xE8 0x02 0 0   1 0)

file(WRITE "${OUTPUT}" "// Generated from printer_icon.txt by make_icon_rc.cmake; edit the drawing, not this file.

LANGUAGE 0, 0

// The image: icon resource 1.
1 3
{
${image_words}}

// The icon group 101, with the image above as its only member.
101 14
{
${group_words}}
")
