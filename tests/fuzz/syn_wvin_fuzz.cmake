# The sound-file readers' fuzz target (clang's libFuzzer), included by
# tests/CMakeLists.txt when FLUVANE_FUZZ is on. The toolkit library is
# instrumented for coverage; the target runs as the test fuzz/syn_wvin over
# a scratch corpus seeded from corpus/syn_wvin.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "FLUVANE_FUZZ needs clang (libFuzzer)")
endif()
target_compile_options(chip_syn PRIVATE -fsanitize=fuzzer-no-link)
add_executable(syn_wvin_fuzz ${CMAKE_CURRENT_LIST_DIR}/syn_wvin_fuzz.cpp)
target_link_libraries(syn_wvin_fuzz PRIVATE chip_syn)
target_compile_options(syn_wvin_fuzz PRIVATE ${FLUVANE_WARNINGS} -fsanitize=fuzzer)
target_link_options(syn_wvin_fuzz PRIVATE -fsanitize=fuzzer)
set_target_properties(syn_wvin_fuzz PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
set(_scratch ${CMAKE_BINARY_DIR}/fuzz/syn_wvin_corpus)
file(MAKE_DIRECTORY ${_scratch})
add_test(NAME fuzz/syn_wvin
         COMMAND syn_wvin_fuzz -runs=20000 -max_len=8192 -timeout=10 ${_scratch}
                 ${CMAKE_CURRENT_LIST_DIR}/corpus/syn_wvin)
set_tests_properties(fuzz/syn_wvin PROPERTIES TIMEOUT 300)
