# sketora_add_test(<name> SOURCES <files...> LIBS <targets...>)
# Builds one QtTest executable and registers it with CTest, always on the
# offscreen platform so tests never need a display.
function(sketora_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;SKETORA_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
    TIMEOUT ${ARG_TIMEOUT})
endfunction()
