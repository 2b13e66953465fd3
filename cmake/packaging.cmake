# The Debian package, ledwall-demo_VERSION_ARCH.deb, made by CPack from this
# build (scripts/package.sh): the show, the wiring test and the bridge to LED
# controllers in /usr/bin, their manual pages, the systemd units of the show
# and the bridge (installed, not enabled), their settings files and the
# maintainer scripts that create and remove the services' user.
# Depends comes from the executables' libraries through dpkg-shlibdeps.

set(LEDWALL_RELEASE_DATE 2026-12-09) # of this version; the manual pages and the changelog say it
execute_process(COMMAND date -u -R -d "${LEDWALL_RELEASE_DATE}" OUTPUT_VARIABLE LEDWALL_RELEASE_DATE_RFC2822
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

# A board's package says which Debian release's libraries it was built
# against (scripts/cross-build.sh sets the release), so that a board moving to
# the next release moves to the package built for it; the changelog names the
# release too.
set(LEDWALL_DEBIAN_RELEASE "" CACHE STRING "Debian release a board's package is built for (12, 13; empty: this machine's)")
set(LEDWALL_PACKAGE_VERSION ${PROJECT_VERSION})
set(LEDWALL_DEBIAN_SUITE bookworm)
if(LEDWALL_DEBIAN_RELEASE)
  set(LEDWALL_PACKAGE_VERSION ${PROJECT_VERSION}+deb${LEDWALL_DEBIAN_RELEASE})
  if(LEDWALL_DEBIAN_RELEASE STREQUAL "13")
    set(LEDWALL_DEBIAN_SUITE trixie)
  endif()
endif()

# Packaging takes the build as it is: making the package builds only what it
# holds (scripts/package.sh), not every test and tool.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(packaging_in ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_out ${PROJECT_BINARY_DIR}/packaging)

# The programs under their installed names, stripped as Debian's tools strip
# them (the build's own copies keep their debugging information). The bridge
# is packaged once its program is part of the build.
set(packaged_programs demo:ledwall-demo wiring_test:ledwall-wiring-test)
set(packaged_pages ledwall-demo.1 ledwall-wiring-test.1)
if(TARGET ledwall-bridge)
  list(APPEND packaged_programs ledwall-bridge:ledwall-bridge)
  list(APPEND packaged_pages ledwall-bridge.1)
endif()
set(packaged_files)
set(packaged_names)
foreach(program ${packaged_programs})
  string(REPLACE ":" ";" program ${program})
  list(GET program 0 target)
  list(GET program 1 name)
  add_custom_command(OUTPUT ${packaging_out}/${name}
                     COMMAND ${CMAKE_STRIP} --remove-section=.comment --remove-section=.note --strip-unneeded
                             -o ${packaging_out}/${name} $<TARGET_FILE:${target}>
                     DEPENDS ${target} VERBATIM)
  list(APPEND packaged_files ${packaging_out}/${name})
  list(APPEND packaged_names ${packaging_out}/${name})
endforeach()

# Manual pages and the changelog, with this version, compressed as Debian's
# policy asks (gzip -9, no name or time stamp inside).
foreach(doc ${packaged_pages} changelog)
  configure_file(${packaging_in}/${doc}.in ${packaging_out}/${doc} @ONLY)
  add_custom_command(OUTPUT ${packaging_out}/${doc}.gz
                     COMMAND gzip -9n -c ${packaging_out}/${doc} > ${packaging_out}/${doc}.gz
                     DEPENDS ${packaging_out}/${doc})
  list(APPEND packaged_files ${packaging_out}/${doc}.gz)
endforeach()
add_custom_target(package_files ALL DEPENDS ${packaged_files})

list(TRANSFORM packaged_pages PREPEND ${packaging_out}/)
list(TRANSFORM packaged_pages APPEND .gz)
install(PROGRAMS ${packaged_names} DESTINATION bin)
install(FILES ${packaged_pages} DESTINATION share/man/man1)
install(FILES ${packaging_out}/changelog.gz ${packaging_in}/copyright DESTINATION share/doc/ledwall-demo)

# Each service: its unit, and its settings file as a conffile (an upgrade
# keeps the administrator's changes).
set(packaged_services ledwall-demo)
if(TARGET ledwall-bridge)
  list(APPEND packaged_services ledwall-bridge)
endif()
set(conffiles "")
foreach(service ${packaged_services})
  install(FILES ${packaging_in}/${service}.service DESTINATION /lib/systemd/system)
  install(FILES ${packaging_in}/${service}.default DESTINATION /etc/default RENAME ${service})
  string(APPEND conffiles "/etc/default/${service}\n")
endforeach()
file(WRITE ${packaging_out}/conffiles "${conffiles}")

# The architecture is the one the build is for. A board's build links the
# libraries of its sysroot (scripts/sysroot.sh): dpkg-shlibdeps looks for them
# there and reads which package holds each, and its shlibs and symbols, from
# the sysroot's own package data, not from this machine's.
if(CMAKE_CROSSCOMPILING)
  execute_process(COMMAND dpkg-architecture -t ${LEDWALL_CROSS_TRIPLET} -qDEB_HOST_ARCH
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_SYSROOT}/lib/${LEDWALL_CROSS_TRIPLET}
                                                  ${CMAKE_SYSROOT}/usr/lib/${LEDWALL_CROSS_TRIPLET})
  file(WRITE ${packaging_out}/cpack_sysroot.cmake "set(ENV{DPKG_ADMINDIR} \"${CMAKE_SYSROOT}/var/lib/dpkg\")\n")
  set(CPACK_PROJECT_CONFIG_FILE ${packaging_out}/cpack_sysroot.cmake)
else()
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
                  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ledwall-demo)
set(CPACK_PACKAGE_VERSION ${LEDWALL_PACKAGE_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_CONTACT "The NEON DRIFT developers <maintainers@users.noreply.c-seed-c1a2c3ba.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audiovisual demo for a 32x16 RGB LED wall")
# The summary is the synopsis line; this is the extended description under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "NEON DRIFT is a seven-minute show for a wall of 32 by 16 RGB LEDs (eight
8x8 serpentine panels) driven over TCP with Open Pixel Control: zooms,
scrolls, fades, procedural effects, a live spectrum analyser and credits,
timed by its soundtrack, which plays through ALSA. Every picture and the
music are part of the program.
.
The package holds the show, a wiring test pattern for the wall, a bridge
that forwards the show's frames to LED controllers speaking DDP, E1.31
(sACN) or Art-Net, and systemd units that run the show and the bridge at
boot once they are enabled.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${packaging_in}/postinst ${packaging_in}/prerm ${packaging_in}/postrm ${packaging_out}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
include(CPack)
