# Checks that PROGRAM (the chip program) starts with the C runtime alone:
# its dynamic section names none of the libraries it reaches only when
# audio is first wanted (SDL and what SDL brings) or never (the services'
# HTTP, digests and property lists), whose loading and symbol lookups were
# once most of its start.
#   cmake -DREADELF=<readelf> -DPROGRAM=<file> -P program_libraries_check.cmake
execute_process(COMMAND ${READELF} -d ${PROGRAM} OUTPUT_VARIABLE _dynamic RESULT_VARIABLE _rc
                ERROR_QUIET)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "cannot read the dynamic section of ${PROGRAM}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*" _needed "${_dynamic}")
if(NOT _needed)
  message(FATAL_ERROR "${PROGRAM} names no shared library: not a dynamic program?")
endif()
foreach(_entry ${_needed})
  if(_entry MATCHES "SDL|asound|pulse|X11|wayland|curl|ssl|crypto|plist")
    message(FATAL_ERROR "${PROGRAM} loads at start: ${_entry}")
  endif()
endforeach()
string(REPLACE ";" "\n  " _list "${_needed}")
message(STATUS "${PROGRAM} loads at start:\n  ${_list}")
