# The sources of morven_simcore, the simulated bootloader without I/O, listed once: this folder's
# CMakeLists.txt and the fuzz build (fuzz/CMakeLists.txt) both take them from here.
set(morven_simcore_sources
  bootloader.h bootloader.cpp
  pacedline.h pacedline.cpp)
list(TRANSFORM morven_simcore_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
