# Copies one header to OUTPUT with its project includes made relative to itself:
# #include "core/IdBuffer.h" becomes #include "../core/IdBuffer.h".
file(READ ${INPUT} text)
string(REGEX REPLACE "#include \"([a-z]+/[A-Za-z0-9_]+\\.h)\"" "#include \"../\\1\"" text "${text}")
file(WRITE ${OUTPUT}.tmp "${text}")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
