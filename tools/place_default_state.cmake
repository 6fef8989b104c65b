# Puts the as-drawn selection state beside the program when it has none
# yet; choices saved there are never replaced.
#   cmake -DDRAWN=drawn_palshift.bin -DSTATE=last_palshift.bin -P place_default_state.cmake
if(NOT EXISTS "${STATE}")
  configure_file("${DRAWN}" "${STATE}" COPYONLY)
endif()
