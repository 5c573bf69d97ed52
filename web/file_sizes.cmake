# Writes files.json into DIR: the size in bytes of every .wasm and .data file
# there, which the page's progress bar counts against (a compressed transfer's
# Content-Length is not the number of bytes the page receives, and a streamed
# transfer has none). Run after the files are linked:
#
#   cmake -DDIR=<build-web> -P file_sizes.cmake
file(GLOB PAGE_FILES RELATIVE ${DIR} ${DIR}/*.wasm ${DIR}/*.data)
list(SORT PAGE_FILES)
set(ENTRIES "")
foreach(NAME IN LISTS PAGE_FILES)
    file(SIZE ${DIR}/${NAME} SIZE)
    list(APPEND ENTRIES "\"${NAME}\": ${SIZE}")
endforeach()
list(JOIN ENTRIES ",\n  " BODY)
file(WRITE ${DIR}/files.json.new "{\n  ${BODY}\n}\n")
file(RENAME ${DIR}/files.json.new ${DIR}/files.json)
