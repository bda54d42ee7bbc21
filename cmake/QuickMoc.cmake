# AUTOMOC hands moc the compiler's own include folders as well, and moc follows every #include
# it can find: with them it parsed the standard library for each class, seconds a file, and
# found nothing there it needs. The targets' moc runs through a wrapper that drops those
# folders; what moc writes stays the same.

function(morven_quick_moc_wrapper out)
  set(patterns "")
  foreach(dir IN LISTS CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
    list(APPEND patterns "\"-I${dir}\"")
  endforeach()
  list(JOIN patterns " | " patterns)
  get_target_property(moc Qt6::moc LOCATION)
  set(wrapper "${CMAKE_BINARY_DIR}/moc-own-folders")
  # Written only when it changes, so that a new configure does not run every moc again.
  file(CONFIGURE OUTPUT "${wrapper}" @ONLY CONTENT [[#!/bin/sh
# Made by CMake (cmake/QuickMoc.cmake): moc without the compiler's own include folders.
for arg do
  shift
  case $arg in
    @patterns@) ;;
    *) set -- "$@" "$arg" ;;
  esac
done
exec "@moc@" "$@"
]])
  file(CHMOD "${wrapper}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
  set(${out} "${wrapper}" PARENT_SCOPE)
endfunction()

# Every AUTOMOC target under dir, subfolders included, uses the wrapper.
function(morven_quick_moc dir wrapper)
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(automoc ${target} AUTOMOC)
    if(automoc)
      set_target_properties(${target} PROPERTIES AUTOMOC_EXECUTABLE "${wrapper}")
    endif()
  endforeach()
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    morven_quick_moc("${subdir}" "${wrapper}")
  endforeach()
endfunction()
