# vntr_add_codec_library(<name> SOURCES ... [LIBS ...])
# Builds <name>.so into the stage folder's codec directory, exporting only the
# codec interface, and records it in the global list VNTR_CODEC_LIBRARIES.
function(vntr_add_codec_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY "${VNTR_CODEC_DIR}"
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${name} PRIVATE vntr_codec_frame ${ARG_LIBS})
  target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL)
  if(NOT VNTR_SANITIZE AND NOT VNTR_FUZZ)
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
  set_property(GLOBAL APPEND PROPERTY VNTR_CODEC_LIBRARIES ${name})
  install(TARGETS ${name} LIBRARY DESTINATION VNTR/QBL)
endfunction()
