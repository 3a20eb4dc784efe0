# The Debian package (scripts/package runs CPack on a Release build): the player,
# mellowdeck-render, and what Install.cmake and assets/ install, under /usr, plus
# the manual pages, the copyright file and the changelog Debian expects.
include(GNUInstallDirs)

set(_pkg_dir ${CMAKE_CURRENT_LIST_DIR}/package)
set(_pkg_out ${CMAKE_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${_pkg_out})

set(MELLOWDECK_PACKAGE_MAINTAINER "The Mellowdeck developers <mellowdeck@example.org>"
    CACHE STRING "Maintainer of the Debian package: Name <address>")

# Manual pages and the changelog go in compressed (gzip -9n: no name, no time stamp,
# so the same sources give the same package).
find_program(MELLOWDECK_GZIP gzip REQUIRED)
function(_md_gzip src dst)
  execute_process(COMMAND ${MELLOWDECK_GZIP} -9n -c ${src} OUTPUT_FILE ${dst}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot compress ${src}")
  endif()
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${src})
endfunction()

foreach(page mellowdeck.1 mellowdeck-render.1)
  _md_gzip(${CMAKE_SOURCE_DIR}/docs/man/${page} ${_pkg_out}/${page}.gz)
  install(FILES ${_pkg_out}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# Each release needs its changelog entry: the newest one must name this version.
file(STRINGS ${_pkg_dir}/changelog.in _newest LIMIT_COUNT 1)
if(NOT _newest MATCHES "^mellowdeck \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "cmake/package/changelog.in has no entry for ${PROJECT_VERSION} at the top")
endif()
configure_file(${_pkg_dir}/changelog.in ${_pkg_out}/changelog @ONLY)
_md_gzip(${_pkg_out}/changelog ${_pkg_out}/changelog.gz)

# The copyright file in Debian's machine-readable format, with the licence texts
# taken from the tree: the program's, and those of the two fonts compiled into it.
function(_md_license_field var file)
  file(READ ${file} text)
  string(REGEX REPLACE "[ \t\r]+\n" "\n" text "${text}")
  string(STRIP "${text}" text)
  # Empty lines become " ." (twice, for runs of them), every line gets one leading space.
  string(REGEX REPLACE "\n\n" "\n.\n" text "${text}")
  string(REGEX REPLACE "\n\n" "\n.\n" text "${text}")
  string(REPLACE "\n" "\n " text " ${text}")
  set(${var} "${text}" PARENT_SCOPE)
endfunction()
file(READ ${CMAKE_SOURCE_DIR}/LICENSE _license)
string(FIND "${_license}" "Permission is hereby granted" _grant)
string(SUBSTRING "${_license}" ${_grant} -1 _license)
file(WRITE ${_pkg_out}/LICENSE.body "${_license}")
_md_license_field(MD_LICENSE_EXPAT ${_pkg_out}/LICENSE.body)
_md_license_field(MD_LICENSE_OFL ${CMAKE_SOURCE_DIR}/assets/fonts/Play-OFL.txt)
_md_license_field(MD_LICENSE_LIBERATION
                  ${CMAKE_SOURCE_DIR}/assets/fonts/LiberationSansNarrow-LICENSE.txt)
configure_file(${_pkg_dir}/copyright.in ${_pkg_out}/copyright @ONLY)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/assets/fonts/Play-OFL.txt
             ${CMAKE_SOURCE_DIR}/assets/fonts/LiberationSansNarrow-LICENSE.txt)

install(FILES ${_pkg_out}/copyright ${_pkg_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# FluidSynth is opened with dlopen, so dpkg-shlibdeps cannot see it: depend on the
# package that holds the library pkg-config found (the file its SONAME link names,
# which the program loads), at least the version the build asks pkg-config for.
find_program(MELLOWDECK_DPKG_QUERY dpkg-query)
if(NOT MELLOWDECK_DPKG_QUERY)
  message(STATUS "No dpkg-query: the Debian package cannot be made here")
  return()
endif()
set(_fluidsynth_link ${FLUIDSYNTH_LINK_LIBRARIES})
list(FILTER _fluidsynth_link INCLUDE REGEX "/libfluidsynth[^/]*$")
if(_fluidsynth_link)
  file(REAL_PATH "${_fluidsynth_link}" _fluidsynth_file)
  execute_process(COMMAND ${MELLOWDECK_DPKG_QUERY} -S ${_fluidsynth_file}
                  OUTPUT_VARIABLE _owner RESULT_VARIABLE _failed ERROR_QUIET)
endif()
if(NOT _fluidsynth_link OR _failed OR NOT _owner MATCHES "^([^:,]+)[:,]")
  message(WARNING "No Debian package holds the FluidSynth library "
                  "(${FLUIDSYNTH_LINK_LIBRARIES}): the Debian package cannot be made here")
  return()
endif()
set(_fluidsynth_package ${CMAKE_MATCH_1})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mellowdeck)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_HOMEPAGE_URL https://github.com/mellowdeck/mellowdeck)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small MIDI file player in the style of a rack synthesizer")
set(CPACK_PACKAGE_DESCRIPTION [[
Mellowdeck plays Standard MIDI Files (.mid) and RIFF MIDI files (.rmi) in one
fixed-size window with the look of a late-1990s rack synthesizer: open a file,
press Start, and it sounds through FluidSynth with a General MIDI SoundFont.
Loop Sounds repeats a piece without a seam, and Stop leaves no note hanging.

The package also holds mellowdeck-render, which renders a MIDI file to a WAV
file offline exactly as the player plays it, and a short demo piece.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PRE_BUILD_SCRIPTS ${_pkg_dir}/strip.cmake)
set(CPACK_MELLOWDECK_STRIP ${CMAKE_STRIP})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MELLOWDECK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${_fluidsynth_package} (>= 2.2)")
# Recommends, not Depends: the player works with any General MIDI SoundFont
# (MELLOWDECK_SOUNDFONT, or another package's default-GM link), and without one
# it says which of these packages to install. apt installs Recommends by default.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "timgm6mb-soundfont | fluid-soundfont-gm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
