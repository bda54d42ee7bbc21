# The sources of morven_records, listed once: this folder's CMakeLists.txt and the fuzz build
# (fuzz/CMakeLists.txt) both take them from here, so every reader and check is fuzzed. Plain C++
# only; the toolkit's files (morven_lists) stay in CMakeLists.txt.
set(morven_records_sources
  linestore.h linestore.cpp
  formatters.h formatters.cpp
  conversion.h conversion.cpp
  inputerror.h
  inputchecks.h inputchecks.cpp
  intelhexwriter.h intelhexwriter.cpp
  srecordreader.h srecordreader.cpp
  binaryreader.h binaryreader.cpp
  recordpatch.h recordpatch.cpp
  firmwareinput.h firmwareinput.cpp)
list(TRANSFORM morven_records_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
