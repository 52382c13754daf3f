# Warnings high and fatal for our own targets only; never directory-wide.
# The sanitizer build adds AddressSanitizer and UndefinedBehaviorSanitizer, and the coverage
# instrumentation libFuzzer needs, to every target of ours.
function(patchupdate_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /permissive-)
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
      -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
      -Wnull-dereference -Wimplicit-fallthrough -Werror)
  endif()
  if(PATCHUPDATE_SANITIZE)
    target_compile_options(${target} PRIVATE
      -fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()
