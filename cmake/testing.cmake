# How tests are declared: each with the labels that say where CI runs it, given where the test is
# declared (docs/engine.md, "Tests and their labels").
#
#   asan   runs under AddressSanitizer and UndefinedBehaviorSanitizer (UBIN_SANITIZE)
#   tsan   runs under ThreadSanitizer (UBIN_TSAN): every suite of the engine, the builder, the
#          form and the programs over them
#   (none) runs in the plain build alone: windows, pages, packages, the Python module
#
# A build for one of CI's stages declares only the tests it runs, so that it compiles no others:
# UBIN_TEST_LABELS keeps the tests with one of its labels, UBIN_TEST_EXCLUDE_LABELS leaves out those
# with one of its labels (a test without labels has none to be kept by).
set(UBIN_TEST_LABELS "" CACHE STRING "Declare only the tests with one of these labels (empty: every test)")
set(UBIN_TEST_EXCLUDE_LABELS "" CACHE STRING "Leave out the tests with one of these labels")

# ubin_test_wanted(<out> [<label>...]): whether this build declares a test with these labels.
function(ubin_test_wanted out)
  set(wanted TRUE)
  if(UBIN_TEST_LABELS)
    set(wanted FALSE)
    foreach(label IN LISTS ARGN)
      if(label IN_LIST UBIN_TEST_LABELS)
        set(wanted TRUE)
      endif()
    endforeach()
  endif()
  foreach(label IN LISTS ARGN)
    if(label IN_LIST UBIN_TEST_EXCLUDE_LABELS)
      set(wanted FALSE)
    endif()
  endforeach()
  set(${out} ${wanted} PARENT_SCOPE)
endfunction()

# ubin_discover_tests(<target> [LABELS <label>...] [PROPERTIES <name> <value>...]): the GoogleTest
# cases of a test program, each a ctest test with these labels and properties (QT_QPA_PLATFORM is
# offscreen unless PROPERTIES sets the environment). A program whose labels this build does not
# want is left out of `all` and registers nothing.
function(ubin_discover_tests target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LABELS;PROPERTIES")
  ubin_test_wanted(wanted ${arg_LABELS})
  if(NOT wanted)
    set_target_properties(${target} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    return()
  endif()
  if(NOT "ENVIRONMENT" IN_LIST arg_PROPERTIES)
    list(APPEND arg_PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES ${arg_PROPERTIES})
  if(arg_LABELS)
    # The cases are known only once the program is built, and gtest_discover_tests passes a list
    # value on as separate words: the labels are set by a file ctest reads after the cases'.
    set(file "${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake")
    file(WRITE "${file}" "if(DEFINED ${target}_TESTS)\n  set_tests_properties(\${${target}_TESTS} PROPERTIES LABELS \"${arg_LABELS}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${file}")
  endif()
endfunction()

# ubin_test(<name> [LABELS <label>... SOURCES] <sources>...): a GoogleTest program with GoogleTest's
# main, and its cases (ubin_discover_tests).
function(ubin_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LABELS;SOURCES")
  add_executable(${name} ${arg_UNPARSED_ARGUMENTS} ${arg_SOURCES})
  ubin_unity_build(${name})
  target_link_libraries(${name} PRIVATE GTest::gtest_main)
  ubin_discover_tests(${name} LABELS ${arg_LABELS})
endfunction()

# ubin_add_test(NAME <name> [LABELS <label>...] [PROGRAMS <target>...] [PROPERTIES <name> <value>...]
#               COMMAND ... [COMMAND_EXPAND_LISTS] [WORKING_DIRECTORY <dir>]): add_test with labels and
#               properties. A test this build does not want is
# not registered, and the PROGRAMS built for it alone are left out of `all`.
function(ubin_add_test)
  cmake_parse_arguments(PARSE_ARGV 0 arg "COMMAND_EXPAND_LISTS" "NAME;WORKING_DIRECTORY" "LABELS;PROGRAMS;PROPERTIES;COMMAND")
  ubin_test_wanted(wanted ${arg_LABELS})
  if(NOT wanted)
    if(arg_PROGRAMS)
      set_target_properties(${arg_PROGRAMS} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    endif()
    return()
  endif()
  set(options)
  if(arg_COMMAND_EXPAND_LISTS)
    list(APPEND options COMMAND_EXPAND_LISTS)
  endif()
  if(arg_WORKING_DIRECTORY)
    list(APPEND options WORKING_DIRECTORY "${arg_WORKING_DIRECTORY}")
  endif()
  add_test(NAME ${arg_NAME} COMMAND ${arg_COMMAND} ${options})
  if(arg_LABELS)
    set_tests_properties(${arg_NAME} PROPERTIES LABELS "${arg_LABELS}")
  endif()
  if(arg_PROPERTIES)
    set_tests_properties(${arg_NAME} PROPERTIES ${arg_PROPERTIES})
  endif()
endfunction()
