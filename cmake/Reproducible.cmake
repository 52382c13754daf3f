# Two builds of the same commit give the same bytes wherever they are built: source and build folders
# are mapped away in debug information and __FILE__, and the linker writes no time stamp.
function(patchupdate_reproducible target)
  if(NOT MSVC)
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build>)
  endif()
  if(MINGW)
    target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
  endif()
endfunction()
