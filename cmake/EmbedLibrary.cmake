# cmake -DINPUT=library.so -DOUTPUT=file.cpp -DSYMBOL=name -P EmbedLibrary.cmake
# Writes a C++ source whose assembly includes the bytes of INPUT between the symbols SYMBOL
# and SYMBOL_end. The image's hash is part of the source, so a compiler cache sees a change.
file(SHA256 "${INPUT}" hash)
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT}; do not edit.\n"
"asm(\"  .section .rodata.${SYMBOL},\\\"a\\\",@progbits\\n\"\n"
"    \"  .balign 64\\n\"\n"
"    \"  .globl ${SYMBOL}\\n\"\n"
"    \"  .hidden ${SYMBOL}\\n\"\n"
"    \"${SYMBOL}:\\n\"\n"
"    \"  .incbin \\\"${INPUT}\\\" # sha256 ${hash}\\n\"\n"
"    \"  .globl ${SYMBOL}_end\\n\"\n"
"    \"  .hidden ${SYMBOL}_end\\n\"\n"
"    \"${SYMBOL}_end:\\n\"\n"
"    \"  .previous\\n\");\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
