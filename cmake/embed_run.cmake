file(READ ${IN} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE ${OUT} "// Generated from ${IN}; do not edit.\nnamespace pt {\nextern const char ${SYMBOL}[];\nconst char ${SYMBOL}[] = {${bytes}0x00};\n}\n")
