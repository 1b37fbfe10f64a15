# velk_add_test(NAME name SOURCES ... LIBS ... [LABELS ...] [ENVIRONMENT VAR=value])
# One GoogleTest executable per test folder; every case becomes a ctest entry.
# Tests carry the label "unit" unless LABELS says otherwise; the sanitizer
# build runs the "unit" label. Give one label only: the test discovery of
# CMake 3.25 flattens a list of labels. ENVIRONMENT (one variable) is set for
# every case.
function(velk_add_test)
  cmake_parse_arguments(T "" "NAME;ENVIRONMENT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  set(T_PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300)
  if(T_ENVIRONMENT)
    list(APPEND T_PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${T_PROPERTIES})
endfunction()
