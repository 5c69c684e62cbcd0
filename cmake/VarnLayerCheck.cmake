# The layers' libraries link only downwards. varn_layer_link_check(lib) makes
# the linker hold to that: a small program takes every object of `lib` (not
# only those something asks for) and gets only the layers `lib` links itself;
# a call from the layer into one above it finds nothing to resolve against
# there, and the build fails. The program is built, never run.
function(varn_layer_link_check layer)
  set(check ${layer}_link_check)
  add_executable(${check} ${PROJECT_SOURCE_DIR}/cmake/layer_link_check.cpp)
  target_link_libraries(${check} PRIVATE -Wl,--whole-archive ${layer} -Wl,--no-whole-archive)
endfunction()
