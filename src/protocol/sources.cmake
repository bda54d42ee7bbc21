# The sources of morven_protocol, listed once: this folder's CMakeLists.txt and the fuzz build
# (fuzz/CMakeLists.txt) both take them from here, so the fuzzer compiles every file the library has.
set(morven_protocol_sources
  hexcodec.h hexcodec.cpp
  checksum.h checksum.cpp
  hexdigits.h
  frame.h frame.cpp)
list(TRANSFORM morven_protocol_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
