# cmake -DFILE=path -DLIMIT=bytes -P CheckFileSize.cmake: fails when FILE is larger than LIMIT.
file(SIZE "${FILE}" size)
math(EXPR kib "(${size} + 1023) / 1024")
message(STATUS "${FILE}: ${size} bytes (${kib} KiB), limit ${LIMIT} bytes")
if(size GREATER LIMIT)
  message(FATAL_ERROR "${FILE} is ${size} bytes, more than the limit of ${LIMIT}")
endif()
