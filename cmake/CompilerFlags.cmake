# One interface target carries the flags every Rovalink target builds with.
add_library(rovalink_flags INTERFACE)
target_compile_features(rovalink_flags INTERFACE cxx_std_20)
target_compile_options(rovalink_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual)
target_compile_definitions(rovalink_flags INTERFACE _GLIBCXX_ASSERTIONS)
if(ROVALINK_WERROR)
  target_compile_options(rovalink_flags INTERFACE -Werror)
endif()
if(ROVALINK_SANITIZE)
  target_compile_options(rovalink_flags INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                  -fno-sanitize-recover=undefined)
  target_link_options(rovalink_flags INTERFACE -fsanitize=address,undefined)
endif()
if(ROVALINK_FUZZ)
  # Coverage instrumentation for everything the fuzz targets link; they add the driver.
  target_compile_options(rovalink_flags INTERFACE -fsanitize=fuzzer-no-link)
endif()
