# The Debian packages of the suite: configure with -DCMAKE_INSTALL_PREFIX=/usr, build, then
# `cpack -G DEB` (scripts/package-check.sh does it all and checks the result; docs/packaging.md
# says what each package holds). cpack refuses a build folder configured with another prefix:
# the programs, man pages and systemd units name their installed paths.
#
# The packages, from their install components:
#   tools   -> ubin:          ubin, ubin-build, ubin-serve with its page and systemd units, and
#                             the sample directory. No Qt: a server for web forms or a machine
#                             that only builds the directory installs no windowing libraries.
#   desktop -> ubin-desktop:  the windows (marubeta, tenzora, piroshen, quillot), the sorelto
#                             control, ubin-link and ubin-regsvr, the launcher and the icon.
#                             Needs ubin for the sample directory its ubscon.def points at.
#   capi    -> libubin1:      the C library, by its soname.
#   capi_dev -> libubin-dev:  its header and the libubin.so link a C program is built with.
#   python  -> python3-ubin:  the Python module for Debian's python3, in its dist-packages; made
#                             when the module is built for /usr/bin/python3.
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "Debian packages want -DCMAKE_INSTALL_PREFIX=/usr (now ${CMAKE_INSTALL_PREFIX}); cpack will refuse this folder")
endif()
# Run by cpack before it packs anything.
set(_prefix_check "${PROJECT_BINARY_DIR}/debian/cpack-prefix-check.cmake")
file(WRITE ${_prefix_check} "\
if(NOT \"${CMAKE_INSTALL_PREFIX}\" STREQUAL \"/usr\")
  message(FATAL_ERROR \"The Debian packages install under /usr, and this build folder (${PROJECT_BINARY_DIR}) \"
    \"was configured with CMAKE_INSTALL_PREFIX=${CMAKE_INSTALL_PREFIX}, whose paths the programs, man pages and \"
    \"systemd units name. Configure it with the prefix /usr and build it again, then run cpack:\\n\"
    \"  cmake -S ${PROJECT_SOURCE_DIR} -B ${PROJECT_BINARY_DIR} -DCMAKE_INSTALL_PREFIX=/usr && \"
    \"cmake --build ${PROJECT_BINARY_DIR}\\n\"
    \"(scripts/package-check.sh does both).\")
endif()
")
set(CPACK_PROJECT_CONFIG_FILE ${_prefix_check})
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr" AND NOT CMAKE_CROSSCOMPILING)
  ubin_add_test(NAME Packaging.CpackRefusesAPrefixOtherThanUsr
    COMMAND ${CMAKE_CPACK_COMMAND} --config ${PROJECT_BINARY_DIR}/CPackConfig.cmake -G DEB
            -B ${PROJECT_BINARY_DIR}/packages-refused
    PROPERTIES PASS_REGULAR_EXPRESSION "-DCMAKE_INSTALL_PREFIX=/usr && cmake --build")
endif()

set(UBIN_DEB_MAINTAINER "Seed 1c68999c maintainers <maintainers@users.noreply.c-seed-1c68999c.example>"
    CACHE STRING "Maintainer field of the Debian packages")
set(UBIN_DEB_RELEASE 1 CACHE STRING "Debian revision of the packages (the part after the -)")
set(UBIN_DEB_VERSION "${PROJECT_VERSION}-${UBIN_DEB_RELEASE}")

set(_components tools)
set(_package_tools ubin)
set(_package_desktop ubin-desktop)
set(_package_capi libubin1)
set(_package_capi_dev libubin-dev)
set(_package_python python3-ubin)
if(TARGET ubin_c)
  list(APPEND _components capi capi_dev)
endif()
# The module is for one interpreter: Debian's python3 is the one the package serves.
if(TARGET ubin_python AND UBIN_PYTHON_EXECUTABLE STREQUAL "/usr/bin/python3")
  list(APPEND _components python)
elseif(TARGET ubin_python)
  message(STATUS "No package python3-ubin: the module is built for ${UBIN_PYTHON_EXECUTABLE}, not /usr/bin/python3")
endif()
if(UBIN_WITH_QT)
  list(APPEND _components desktop)
endif()

# Each package's copyright and changelog.Debian.gz in /usr/share/doc/<package>/, where dpkg
# and lintian look for them. The date is the configure time, or SOURCE_DATE_EPOCH when the
# build sets it for a reproducible package.
string(TIMESTAMP UBIN_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(_component IN LISTS _components)
  set(UBIN_DEB_PACKAGE ${_package_${_component}})
  set(_changelog "${PROJECT_BINARY_DIR}/debian/${UBIN_DEB_PACKAGE}/changelog.Debian")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${_changelog} @ONLY)
  if(UBIN_GZIP)
    add_custom_command(OUTPUT ${_changelog}.gz
      COMMAND ${UBIN_GZIP} -9nkf ${_changelog}
      DEPENDS ${_changelog}
      COMMENT "changelog.Debian.gz of ${UBIN_DEB_PACKAGE}" VERBATIM)
    add_custom_target(${UBIN_DEB_PACKAGE}_deb_changelog ALL DEPENDS ${_changelog}.gz)
    install(FILES ${_changelog}.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${UBIN_DEB_PACKAGE}
            COMPONENT ${_component})
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${UBIN_DEB_PACKAGE} COMPONENT ${_component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ubin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)   # <package>_<version>-<release>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_RELEASE ${UBIN_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${UBIN_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: from the libraries the programs link (dpkg-shlibdeps), not kept by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The control files (md5sums, control) 0644 as dpkg-deb builds them, not the umask's choice.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# A Debug build packs stripped programs all the same.
set(CPACK_STRIP_FILES ON)
# Install with DESTDIR and the real prefix: the sample's ubscon.def is written at install time
# and names its folder from CMAKE_INSTALL_PREFIX, which must be /usr, not CPack's staging folder.
set(CPACK_SET_DESTDIR ON)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${_package_tools})
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "Japanese postal-code directory: command-line tools and web service
ubin finds Japanese addresses by postal code, municipal city code, the
beginning of a town reading in kana or of a town name in kanji, and cleans
lists of addresses. ubin-build builds the directory files from Japan Post's
KEN_ALL.CSV and JIGYOSYO.CSV. ubin-serve answers the same lookups over HTTP
for web forms, with an address form page and systemd units (not enabled).
A sample directory is installed in /usr/share/marubeta, so that the tools
answer with no download.")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME ${_package_desktop})
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "${_package_tools} (= ${UBIN_DEB_VERSION})")
# Not linked, so dpkg-shlibdeps cannot see them: Qt's SVG plugin draws the windows' icon, and
# a CJK font their Japanese captions.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "libqt6svg6, fonts-noto-cjk")
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "Japanese postal-code directory: search window and control
marubeta is the search window: postal code, reading, name or four lists of
prefecture, city, town and sub-area, with the address copied in the layout
chosen. tenzora edits its settings. sorelto is the embeddable UbinBangou
lookup control; quillot hosts it and piroshen looks addresses up through a
running marubeta, as samples for programs of one's own. ubin-link and
ubin-regsvr talk to marubeta and register the control from the command line.")

set(CPACK_DEBIAN_CAPI_PACKAGE_NAME ${_package_capi})
set(CPACK_DEBIAN_CAPI_PACKAGE_SECTION libs)
# The shlibs file (CPack makes it for every package that holds a library with a soname: here
# libubin1 alone) and the ldconfig trigger dpkg wants of a shared library.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_CAPI_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_CAPI_DESCRIPTION "Japanese postal-code directory: C library
libubin opens a directory built by ubin-build and answers postal codes,
anything a person types (ranked) and written addresses, with UTF-8 texts and
a status from every call; one directory serves any number of threads.")
set(CPACK_DEBIAN_CAPI_DEV_PACKAGE_NAME ${_package_capi_dev})
set(CPACK_DEBIAN_CAPI_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_CAPI_DEV_PACKAGE_DEPENDS "${_package_capi} (= ${UBIN_DEB_VERSION})")
set(CPACK_DEBIAN_CAPI_DEV_DESCRIPTION "Japanese postal-code directory: C library (development files)
The header ubin/ubin.h and the link to libubin for building C programs that
look Japanese postal codes and addresses up.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME ${_package_python})
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${UBIN_PYTHON_DEB_DEPENDS}")
# Byte-compiled at install and cleaned at removal, as dh_python3 arranges for Debian's packages.
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/cmake/debian/python3-ubin/postinst ${PROJECT_SOURCE_DIR}/cmake/debian/python3-ubin/prerm)
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "Japanese postal-code directory: Python 3 module
The module ubin opens a directory built by ubin-build and answers postal
codes, anything a person types (ranked) and written addresses, a whole
pandas column at once, with type information for editors and mypy; and
builds a directory from Japan Post's KEN_ALL.CSV and JIGYOSYO.CSV as
ubin-build does.")

include(CPack)
