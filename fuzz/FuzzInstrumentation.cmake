# Included by the top CMakeLists.txt when LAUNCHER_FUZZ is on, before any
# library is declared. Every library (the LZMA SDK sources included) gets
# libFuzzer's coverage instrumentation and AddressSanitizer with
# UndefinedBehaviorSanitizer; only the targets in fuzz/ link libFuzzer itself,
# so the other programs of the tree still build and run as usual.
if(NOT CMAKE_C_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "LAUNCHER_FUZZ needs clang: -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
endif()
if(LAUNCHER_SANITIZE OR LAUNCHER_TSAN)
  message(FATAL_ERROR "LAUNCHER_FUZZ brings its own sanitizers: leave LAUNCHER_SANITIZE and LAUNCHER_TSAN off")
endif()
# Undefined behaviour aborts, so that the fuzzer records it as a finding.
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
add_link_options(-fsanitize=address,undefined)
