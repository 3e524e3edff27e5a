# -DYURAGI_SANITIZE=address,undefined builds everything with those
# sanitizers, at -O1 so the suite still runs in reasonable time.
set(YURAGI_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined")
if(YURAGI_SANITIZE)
  set(sanitize_flags -fsanitize=${YURAGI_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_compile_options(${sanitize_flags} -O1 -g)
  add_link_options(${sanitize_flags})
  # The optimisation level above wins over the build type's.
  foreach(type RELEASE RELWITHDEBINFO MINSIZEREL DEBUG)
    set(CMAKE_CXX_FLAGS_${type} "")
  endforeach()
  set(CMAKE_CXX_FLAGS_RELEASE "-DNDEBUG")
endif()

# -DYURAGI_FUZZ=ON (with clang) instruments everything for libFuzzer; the
# harnesses in fuzz/ link its driver.
option(YURAGI_FUZZ "Build the libFuzzer harnesses (clang)" OFF)
if(YURAGI_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "YURAGI_FUZZ needs clang: configure with CXX=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
