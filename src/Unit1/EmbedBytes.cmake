# Writes the bytes of INPUT as a C++ array named SYMBOL into the header OUTPUT.
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n    "
       bytes "${bytes}")
get_filename_component(name ${INPUT} NAME)
file(WRITE ${OUTPUT} "// Generated from ${name}; do not edit.\n#pragma once\n\n"
     "inline constexpr unsigned char ${SYMBOL}[] = {\n    ${bytes}\n};\n")
