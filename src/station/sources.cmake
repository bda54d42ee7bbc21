# The station's sources that need Qt Core alone, listed once: this folder's CMakeLists.txt and
# the fuzz build (fuzz/CMakeLists.txt, which adds link/endpoint.cpp for the ports) both take
# them from here, so the recipe reader the station runs is the one fuzzed.
set(morven_station_recipe_sources
  recipevalues.h recipevalues.cpp
  unitserial.h unitserial.cpp
  recipe.h recipe.cpp)
list(TRANSFORM morven_station_recipe_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
