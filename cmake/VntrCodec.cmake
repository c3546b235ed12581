# vntr_add_codec_library(<target> [FILE_NAME <stem>] [NOT_REGISTERED] SOURCES ... [LIBS ...])
# Builds <stem>.so (the stem is the target name unless FILE_NAME gives one;
# it may hold blanks, which target names cannot) into the stage folder's codec
# directory, exporting only the codec interface, and records the target in the
# global list VNTR_CODEC_LIBRARIES and its stem in VNTR_CODEC_FILE_STEMS.
# The build and `cmake --install` register the libraries of the lists
# VNTR_REGISTERED_CODEC_LIBRARIES and VNTR_REGISTERED_CODEC_FILE_STEMS, which
# hold every library but those marked NOT_REGISTERED: the evaluator holds 20
# libraries, and those beyond are built and staged for `vtregsvr`.
function(vntr_add_codec_library name)
  cmake_parse_arguments(ARG "NOT_REGISTERED" "FILE_NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_FILE_NAME)
    set(ARG_FILE_NAME ${name})
  endif()
  add_library(${name} SHARED ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    OUTPUT_NAME "${ARG_FILE_NAME}"
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
  set_property(GLOBAL APPEND PROPERTY VNTR_CODEC_FILE_STEMS "${ARG_FILE_NAME}")
  if(NOT ARG_NOT_REGISTERED)
    set_property(GLOBAL APPEND PROPERTY VNTR_REGISTERED_CODEC_LIBRARIES ${name})
    set_property(GLOBAL APPEND PROPERTY VNTR_REGISTERED_CODEC_FILE_STEMS "${ARG_FILE_NAME}")
  endif()
  install(TARGETS ${name} LIBRARY DESTINATION VNTR/QBL)
endfunction()
