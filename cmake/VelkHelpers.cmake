# velk_add_test(NAME name SOURCES ... LIBS ... [LABELS ...] [ENVIRONMENT VAR=value] [ONE_ENTRY])
# One GoogleTest executable per test folder; every case becomes a ctest entry,
# or, with VELK_TEST_PER_PROGRAM, the whole program is one entry (the
# sanitizer tree: there each start of a program costs about half a second).
# Tests carry the label "unit" unless LABELS says otherwise; the sanitizer
# build builds their programs (target unit_tests) and runs that label. Give
# one label only: the test discovery of CMake 3.25 flattens a list of labels. ENVIRONMENT (one variable) is set for
# every case. ONE_ENTRY makes the program one entry in every tree, for cases
# that share a costly set-up of their suite.
function(velk_add_test)
  cmake_parse_arguments(T "ONE_ENTRY" "NAME;ENVIRONMENT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  if(TARGET unit_tests AND T_LABELS STREQUAL "unit")
    add_dependencies(unit_tests ${T_NAME})
  endif()
  velk_use_test_pch(${T_NAME})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  set(T_TIMEOUT 300)
  if(VELK_TEST_PER_PROGRAM)
    set(T_TIMEOUT 1200)
  endif()
  set(T_PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
  if(T_ENVIRONMENT)
    list(APPEND T_PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  if(VELK_TEST_PER_PROGRAM OR T_ONE_ENTRY)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES ${T_PROPERTIES})
  else()
    gtest_discover_tests(${T_NAME}
      DISCOVERY_TIMEOUT 60
      PROPERTIES ${T_PROPERTIES})
  endif()
endfunction()

# velk_use_test_pch(target): the target's sources are compiled with the test
# programs' shared precompiled header (GoogleTest, GoogleMock, nlohmann/json).
function(velk_use_test_pch target)
  if(TARGET velk_test_pch)
    target_precompile_headers(${target} REUSE_FROM velk_test_pch)
  endif()
endfunction()

# velk_test_runs_java_bridge(target): the test program runs the real Java
# bridge, which copies VelkVatUploader.class from beside the running program;
# the class is put beside the test program and the JDK is named to it.
function(velk_test_runs_java_bridge target)
  find_package(Java 11 COMPONENTS Runtime REQUIRED)
  target_compile_definitions(${target} PRIVATE VELK_TEST_JAVA="${Java_JAVA_EXECUTABLE}")
  add_dependencies(${target} velk_vat_uploader)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy ${VELK_UPLOADER_CLASS} $<TARGET_FILE_DIR:${target}>/
    VERBATIM)
endfunction()
