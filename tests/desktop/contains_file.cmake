# cmake -DHAYSTACK=<binary> -DNEEDLE=<file> -P contains_file.cmake
# Fails unless the bytes of NEEDLE occur in HAYSTACK: the program embeds its
# window icon as a Qt resource, and a missing resource only shows as a blank
# icon at run time.
file(READ "${NEEDLE}" needle HEX)
file(READ "${HAYSTACK}" haystack HEX)
string(FIND "${haystack}" "${needle}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${HAYSTACK} does not contain ${NEEDLE}")
endif()
