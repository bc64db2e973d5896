# The graphics tests: platform/gfx (host, images, PVRTC) and the graphics
# library. They draw with a real GL ES 1.1 context on Mesa and need no
# display: SDL's offscreen driver for the window host, EGL's surfaceless
# platform otherwise.
#
# Under LeakSanitizer, Mesa and SDL leave allocations of modules they load
# and unload behind: programs that link the GL host carry suppressions for
# them and slow unwinding (platform/gfx/GLHost.cpp), so only they pay for
# it. GL never runs under ThreadSanitizer (llvmpipe has threads of its own).

function(fluvane_gl_gtest name dir)
  file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_test.cpp
                                            ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_support.cpp)
  add_executable(${name} ${_srcs} ${CMAKE_CURRENT_SOURCE_DIR}/support/gl_test_support.cpp)
  target_link_libraries(${name} PRIVATE ${ARGN})
  fluvane_test_program(${name})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE
                             FLUVANE_GOLDEN_DIR="${CMAKE_CURRENT_SOURCE_DIR}/${dir}/golden")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                       PROPERTIES ENVIRONMENT SDL_VIDEODRIVER=offscreen TIMEOUT 120)
endfunction()

fluvane_gl_gtest(gfx_tests gfx platform_gfx vxu)
fluvane_gl_gtest(vg_tests VexelGraphics VexelGraphics vxu)

# The demonstration program is run by its test.
add_dependencies(vg_tests vg_demo)
target_compile_definitions(vg_tests PRIVATE VG_DEMO_PROGRAM="$<TARGET_FILE:vg_demo>")

# The UI kit and the framework's screens, on the offscreen driver.
fluvane_gl_gtest(ui_tests platform/ui platform_ui)
fluvane_gl_gtest(vxu_ui_tests vxu/ui vxu_ui service_stub)
# The framework's demonstration is run by its test.
add_dependencies(vxu_ui_tests vx_demo vx_demo_resources)
target_compile_definitions(vxu_ui_tests PRIVATE VX_DEMO_PROGRAM="$<TARGET_FILE:vx_demo>")

# The earth's halves as the build made them, checked against the map they
# were cut from.
target_link_libraries(gfx_tests PRIVATE earth_halves)
add_dependencies(gfx_tests globe_resources)
target_compile_definitions(gfx_tests PRIVATE FLUVANE_EARTH_MAP="${FLUVANE_EARTH_MAP}"
                           FLUVANE_BUILT_RESOURCES="${CMAKE_BINARY_DIR}/share/fluvane")

# The instrument's drawn parts (the globe, its screens), once it has classes.
if(TARGET fluvane_classes)
  fluvane_gl_gtest(classes_ui_tests Classes/ui fluvane_classes service_stub)
  add_dependencies(classes_ui_tests globe_resources fluvane_resources)
  target_link_libraries(classes_ui_tests PRIVATE earth_halves help_pages)
endif()
