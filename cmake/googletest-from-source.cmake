# GoogleTest built from Debian's source package (googletest, /usr/src/googletest) with the
# project's own compiler: a cross-build cannot link the host's libgtest. Gives the same
# GTest::gtest and GTest::gtest_main targets as find_package(GTest).
set(UBIN_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for a cross-build")
if(NOT EXISTS ${UBIN_GTEST_SOURCE}/googletest/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources at ${UBIN_GTEST_SOURCE}: install Debian's googletest package")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${UBIN_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# Its own warnings are not the project's.
foreach(_target gtest gtest_main)
  target_compile_options(${_target} PRIVATE -w)
endforeach()
