# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P EmbedText.cmake
# Writes a C++ source that holds INPUT's bytes as quorvix::sim::SYMBOL (with a
# NUL after them) and its length as SYMBOLSize. Bytes, not a string literal,
# so that no text in the file can end the literal early.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} at build time; do not edit.
#include <cstddef>

namespace quorvix::sim {
extern const unsigned char ${SYMBOL}[];
extern const std::size_t ${SYMBOL}Size;
const unsigned char ${SYMBOL}[] = {
${bytes}0x00};
const std::size_t ${SYMBOL}Size = ${size};
}  // namespace quorvix::sim
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
