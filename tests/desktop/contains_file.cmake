# cmake -DHAYSTACK=<binary> "-DNEEDLES=<file>|<file>..." -P contains_file.cmake
# Fails unless the bytes of each NEEDLE occur in HAYSTACK: the program embeds
# its window icons as Qt resources, and a missing resource only shows as a
# blank or blurred icon at run time.
file(READ "${HAYSTACK}" haystack HEX)
string(REPLACE "|" ";" NEEDLES "${NEEDLES}")
foreach(needle_file IN LISTS NEEDLES)
  file(READ "${needle_file}" needle HEX)
  string(FIND "${haystack}" "${needle}" at)
  if(at EQUAL -1)
    message(SEND_ERROR "${HAYSTACK} does not contain ${needle_file}")
  endif()
endforeach()
