# Each target sees the headers of its own folder and of the libraries it links, and no others:
# "search/lookup.h" is found through ubin_search, so a layer that does not link the engine cannot
# include it. Includes keep naming their layer from the project root; every source folder with
# targets gets a folder under the build tree holding only a link to it
# (<build>/headers/tools/ubin/tools/ubin -> <source>/tools/ubin), and that folder is the target's
# include path: public for libraries, private for programs. Tests, benchmarks and fuzz targets
# share their own tree's helpers (tests/support, tests/search ...) the same way.

set(UBIN_HEADER_ROOT "${CMAKE_BINARY_DIR}/headers")

# The include folder that makes "<folder>/x.h" reach <source>/<folder>/x.h, made on first use.
function(ubin_header_root folder out)
  set(root "${UBIN_HEADER_ROOT}/${folder}")
  set(link "${root}/${folder}")
  if(NOT EXISTS "${link}")
    get_filename_component(parent "${link}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${folder}" "${link}" SYMBOLIC)
  endif()
  set(${out} "${root}" PARENT_SCOPE)
endfunction()

# The folder whose headers a target's sources name: its own, or for tests, benchmarks and fuzz
# targets the whole of their tree.
function(ubin_target_folder target out)
  get_target_property(source_dir ${target} SOURCE_DIR)
  file(RELATIVE_PATH folder "${PROJECT_SOURCE_DIR}" "${source_dir}")
  string(REGEX REPLACE "^(tests|bench|fuzz)/.*" "\\1" folder "${folder}")
  set(${out} "${folder}" PARENT_SCOPE)
endfunction()

function(ubin_add_layer_headers directory)
  get_property(targets DIRECTORY "${directory}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(imported ${target} IMPORTED)
    if(imported OR type STREQUAL "UTILITY")
      continue()
    endif()
    ubin_target_folder(${target} folder)
    # Targets of the top folder, and those of code built from outside the tree (googletest for
    # the Windows build), keep their own include paths.
    if(folder STREQUAL "" OR folder MATCHES "^\\.\\.")
      continue()
    endif()
    ubin_header_root("${folder}" root)
    if(type STREQUAL "INTERFACE_LIBRARY")
      target_include_directories(${target} INTERFACE "${root}")
    elseif(type MATCHES "LIBRARY$")
      target_include_directories(${target} PUBLIC "${root}")
    else()
      target_include_directories(${target} PRIVATE "${root}")
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY "${directory}" PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    ubin_add_layer_headers("${subdirectory}")
  endforeach()
endfunction()
