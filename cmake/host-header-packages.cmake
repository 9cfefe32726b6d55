# Header-only libraries that Debian installs for the host (architecture-independent -dev
# packages) serve a cross-build as well, but their CMake files name /usr/include, whose C
# library headers must never reach the cross-compiler. Each is offered to find_package here
# under its own name and target, through a folder that holds only its own headers.
#
# A new header-only dependency of the part without Qt gets one line below; a library with code
# of its own must be built for Windows (as GoogleTest is) or left out of the cross-build.
function(ubin_host_header_package package target)
  set(stage ${CMAKE_BINARY_DIR}/host-headers/${package})
  file(MAKE_DIRECTORY ${stage})
  foreach(item ${ARGN})
    if(NOT EXISTS /usr/include/${item})
      message(FATAL_ERROR "/usr/include/${item} is missing: install the Debian package of ${package}")
    endif()
    file(CREATE_LINK /usr/include/${item} ${stage}/${item} SYMBOLIC)
  endforeach()
  string(TOLOWER ${package} name)
  file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/${name}-config.cmake "
if(NOT TARGET ${target})
  add_library(${target} INTERFACE IMPORTED)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES \"${stage}\")
endif()
")
  # The host package's own version file answers version requests.
  file(GLOB version_file /usr/share/cmake/${package}/${package}ConfigVersion.cmake
                         /usr/lib/cmake/${package}/${package}ConfigVersion.cmake)
  if(version_file)
    list(GET version_file 0 version_file)
    file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/${name}-config-version.cmake "include(\"${version_file}\")\n")
  endif()
endfunction()

ubin_host_header_package(nlohmann_json nlohmann_json::nlohmann_json nlohmann)
ubin_host_header_package(CLI11 CLI11::CLI11 CLI)
ubin_host_header_package(xxHash xxHash::xxhash xxhash.h xxh3.h)
