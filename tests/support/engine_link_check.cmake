# Checks that the engine stands on its own: none of FILES (the engine's
# libraries and its test program) defines or uses a symbol of the
# application framework, the platform layer or SDL, and the engine's link
# interface names none of their libraries (LINKED).
#   cmake -DNM=<nm> -DFILES="a;b" -DLINKED="libs" -P engine_link_check.cmake
# The symbol lists are filtered by grep: a test program lists hundreds of
# thousands of symbols, too many for CMake's own regular expressions to go
# through quickly.
set(_pattern "VX[A-Za-z_]|Vexel|vxign|SDL_|platform::")
foreach(_file ${FILES})
  execute_process(COMMAND ${NM} -C ${_file}
                  COMMAND grep -E "${_pattern}"
                  OUTPUT_VARIABLE _symbols RESULTS_VARIABLE _rcs ERROR_QUIET)
  list(GET _rcs 0 _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "cannot read the symbols of ${_file}")
  endif()
  string(REGEX MATCHALL "[^\n]+" _hits "${_symbols}")
  if(_hits)
    list(LENGTH _hits _count)
    list(SUBLIST _hits 0 5 _first)
    string(REPLACE ";" "\n  " _first "${_first}")
    message(FATAL_ERROR "${_file} has ${_count} framework or SDL symbols, e.g.\n  ${_first}")
  endif()
  message(STATUS "${_file}: no framework or SDL symbols")
endforeach()
foreach(_lib ${LINKED})
  if(_lib MATCHES "^(vxu|platform|SDL2.*)$")
    message(FATAL_ERROR "the engine links ${_lib}")
  endif()
endforeach()
