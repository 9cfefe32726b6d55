# ubin_man_page(<target> COMPONENT <component> NAME "<one line>"): the program's man page,
# installed gzipped in <prefix>/share/man/man1 with the program's component.
#
# A page written by hand in docs/man/<target>.1 wins; otherwise help2man makes it at build
# time from the program's own --help and --version, so the page never drifts from the options
# the program really takes. Pages are by hand where --help holds Japanese text (groff draws it
# as "?" in an English page) or a layout help2man cannot read. The windows answer --help without a display, but Qt wants a
# platform before it parses anything, hence QT_QPA_PLATFORM=offscreen.
find_program(UBIN_HELP2MAN help2man)
find_program(UBIN_GZIP gzip)
if(NOT UBIN_HELP2MAN OR NOT UBIN_GZIP)
  message(STATUS "help2man or gzip not found: man pages made from --help are left out")
endif()

function(ubin_man_page target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "COMPONENT;NAME" "")
  if(NOT arg_COMPONENT OR NOT arg_NAME)
    message(FATAL_ERROR "ubin_man_page(${target}): COMPONENT and NAME are needed")
  endif()
  set(_hand "${PROJECT_SOURCE_DIR}/docs/man/${target}.1")
  set(_page "${PROJECT_BINARY_DIR}/man/${target}.1")
  # Man pages are for the Debian packages; the Windows build has none.
  if(NOT UBIN_GZIP OR CMAKE_CROSSCOMPILING)
    return()
  elseif(EXISTS "${_hand}")
    # With this build's version and installed paths (@PROJECT_VERSION@, @CMAKE_INSTALL_FULL_...@).
    configure_file("${_hand}" "${_page}.configured" @ONLY)
    set(_make COMMAND ${CMAKE_COMMAND} -E copy "${_page}.configured" "${_page}")
    set(_depends "${_page}.configured")
  elseif(UBIN_HELP2MAN)
    # -N: no pointer to a Texinfo manual, which the suite does not have. The version is the
    # suite's alone: --version also names the data edition the build tree happens to see.
    set(_make COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
              ${UBIN_HELP2MAN} -N --name=${arg_NAME} "--version-string=${target} ${PROJECT_VERSION}"
              --output=${_page} $<TARGET_FILE:${target}>)
    set(_depends ${target})
  else()
    return()
  endif()
  # -n: no name or time stamp inside the .gz, so two builds give the same package.
  add_custom_command(OUTPUT "${_page}.gz"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${PROJECT_BINARY_DIR}/man"
    ${_make}
    COMMAND ${UBIN_GZIP} -9nf "${_page}"
    DEPENDS ${_depends}
    COMMENT "Man page of ${target}"
    VERBATIM)
  add_custom_target(${target}_man_page ALL DEPENDS "${_page}.gz")
  install(FILES "${_page}.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${arg_COMPONENT})
endfunction()
