# The sources of morven_update, listed once: this folder's CMakeLists.txt and the fuzz build
# (fuzz/CMakeLists.txt) both take them from here.
set(morven_update_sources
  messages.h bootframes.h
  engine.h engine.cpp
  dispatcher.h dispatcher.cpp
  replyframer.h replyframer.cpp
  flashsession.h flashsession.cpp)
list(TRANSFORM morven_update_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
