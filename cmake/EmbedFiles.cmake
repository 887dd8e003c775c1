# Writes a C++ source that holds files byte for byte, as arrays of unsigned char, for a program
# that carries them inside itself. Run as a script at build time:
#   cmake -DSOURCE_DIR=dir -DFILES=a,b,c -DOUTPUT=file.cpp -DHEADER=cli/WebPageFile.h
#         -DTYPE=WebPageFile -DTABLE=kWebPageFiles -P EmbedFiles.cmake
# The source defines `const std::span<const TYPE> TABLE` over `{{"a", bytes, size}, ...}` in
# namespace quarry, in the order of FILES. Each array ends in one extra 0 byte (not counted in size), so that an empty file
# is an array too. OUTPUT is left untouched when its text would not change.
string(REPLACE "," ";" names "${FILES}")
set(arrays "")
set(entries "")
set(i 0)
foreach(name IN LISTS names)
  file(READ "${SOURCE_DIR}/${name}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f])"
         "\\1\n" hex "${hex}")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "constexpr unsigned char kFile${i}[] = {\n${bytes}0x00};\n\n")
  string(APPEND entries "    {\"${name}\", kFile${i}, ${size}},\n")
  math(EXPR i "${i} + 1")
endforeach()

set(text "// Generated at build time by cmake/EmbedFiles.cmake from ${FILES}: do not edit.
#include \"${HEADER}\"

namespace quarry {

namespace {

${arrays}const ${TYPE} kFiles[] = {
${entries}};

}  // namespace

const std::span<const ${TYPE}> ${TABLE}(kFiles);

}  // namespace quarry
")

if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${text}")
