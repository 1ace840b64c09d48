# What `cmake --install` puts on a machine and what `cpack -G DEB` packs:
# the program, stripped, its manual page and bash completion, the package's
# copyright file and changelog, the agent protocol notes, and example boot files (a systemd unit and an
# init script) that run `zarn --configRuvo` at boot. The agent simulator is a
# development tool and goes in only when asked for, with
# -DZARN_INSTALL_AGENT_SIM=ON or `cmake --install BUILD --component agent-sim`.
include(GNUInstallDirs)

option(ZARN_INSTALL_AGENT_SIM "Install zarn-agent-sim and its manual page by default" OFF)
option(ZARN_INSTALL_STRIP "Strip the installed programs, as `cmake --install --strip` does" ON)
set(ZARN_PACKAGE_MAINTAINER "The zarn authors <zarn@example.org>" CACHE STRING
    "Maintainer of the Debian package: \"Name <address>\"; an integrator sets their own")

# The static build is a package of its own, as Debian names such builds.
if(ZARN_STATIC)
  set(zarn_package zarn-static)
else()
  set(zarn_package zarn)
endif()
set(zarn_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${zarn_package})

# The changelog's newest entry names the version being built.
file(STRINGS packaging/changelog.in changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^@zarn_package@ \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog.in has no entry for ${PROJECT_VERSION} on top")
endif()
file(STRINGS LICENSE licence_head LIMIT_COUNT 1)
string(REGEX REPLACE "^Copyright " "" zarn_copyright "${licence_head}")
set(packaging_dir ${CMAKE_BINARY_DIR}/packaging)
configure_file(packaging/copyright.in ${packaging_dir}/copyright @ONLY)
configure_file(packaging/changelog.in ${packaging_dir}/changelog @ONLY)

# Manual pages and the changelog go in gzipped with -9n: smallest, and with no
# time stamp, so that the same source makes the same package.
set(gzipped)
foreach(source IN ITEMS ${packaging_dir}/changelog ${CMAKE_CURRENT_SOURCE_DIR}/docs/man/zarn.1
                        ${CMAKE_CURRENT_SOURCE_DIR}/docs/man/zarn-agent-sim.1)
  cmake_path(GET source FILENAME name)
  add_custom_command(OUTPUT ${packaging_dir}/${name}.gz
                     COMMAND ${CMAKE_COMMAND} -E copy ${source} ${packaging_dir}/gzip/${name}
                     COMMAND gzip -9nf ${packaging_dir}/gzip/${name}
                     COMMAND ${CMAKE_COMMAND} -E rename ${packaging_dir}/gzip/${name}.gz
                             ${packaging_dir}/${name}.gz
                     DEPENDS ${source} VERBATIM)
  list(APPEND gzipped ${packaging_dir}/${name}.gz)
endforeach()
add_custom_target(zarn-gzipped-docs ALL DEPENDS ${gzipped})

if(ZARN_INSTALL_STRIP)
  install(CODE "set(CMAKE_INSTALL_DO_STRIP ON)" ALL_COMPONENTS)
endif()
install(TARGETS zarn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT zarn)
install(FILES ${packaging_dir}/zarn.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT zarn)
include(cmake/completion.cmake)
install(FILES ${packaging_dir}/zarn.bash-completion RENAME zarn
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT zarn)
install(FILES ${packaging_dir}/copyright ${packaging_dir}/changelog.gz docs/protocol.md
        DESTINATION ${zarn_docdir} COMPONENT zarn)
# Examples, not installed as boot files: the integrator picks the one that
# fits the SP's init and copies it into place.
install(FILES packaging/examples/zarn-config-ruvo.service
              packaging/examples/zarn-config-ruvo.init packaging/examples/zarn-set-link.sh
        DESTINATION ${zarn_docdir}/examples COMPONENT zarn)

if(TARGET zarn-agent-sim)
  if(ZARN_INSTALL_AGENT_SIM)
    set(agent_sim_default "")
  else()
    set(agent_sim_default EXCLUDE_FROM_ALL)
  endif()
  install(TARGETS zarn-agent-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT agent-sim ${agent_sim_default})
  install(FILES ${packaging_dir}/zarn-agent-sim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT agent-sim ${agent_sim_default})
endif()

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(powerpc|ppc)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE powerpc)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
endif()

# The release of the C library the program is linked with: sets glibc_major
# and glibc_minor in the caller.
macro(zarn_find_glibc_release)
  execute_process(COMMAND ${CMAKE_C_COMPILER} -E -dM -include features.h -x c /dev/null
                  OUTPUT_VARIABLE glibc_macros COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCH "__GLIBC__ ([0-9]+)" _ "${glibc_macros}")
  set(glibc_major ${CMAKE_MATCH_1})
  string(REGEX MATCH "__GLIBC_MINOR__ ([0-9]+)" _ "${glibc_macros}")
  set(glibc_minor ${CMAKE_MATCH_1})
endmacro()

set(description_lines
    "zarn runs on a server's service processor and drives the server's main"
    "system over a private link: reboot or shut it down, read its time,"
    "temperature, host data, version and network settings, fetch CPU vital"
    "product data, and re-address the link.")
if(ZARN_STATIC)
  # Fully static: nothing is needed at run time, except that a host name given
  # to -I makes the static C library load its name-service modules, which must
  # come from the same C library release.
  zarn_find_glibc_release()
  math(EXPR glibc_next_minor "${glibc_minor} + 1")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
      "libc6 (>= ${glibc_major}.${glibc_minor}), libc6 (<< ${glibc_major}.${glibc_next_minor})")
  set(CPACK_DEBIAN_PACKAGE_PROVIDES zarn)
  set(CPACK_DEBIAN_PACKAGE_CONFLICTS zarn)
  set(CPACK_DEBIAN_PACKAGE_REPLACES zarn)
  list(APPEND description_lines "."
       "This build is linked statically and needs no other package, except"
       "that a host name given to -I (rather than a dotted address) loads the"
       "name-service modules of the C library it was linked with,"
       "glibc ${glibc_major}.${glibc_minor}.")
elseif(CMAKE_CROSSCOMPILING)
  # dpkg-shlibdeps knows only the build machine's libraries; the cross
  # toolchain's C library is the oldest one the program is known to run on.
  zarn_find_glibc_release()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${glibc_major}.${glibc_minor})")
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
list(JOIN description_lines "\n" CPACK_DEBIAN_PACKAGE_DESCRIPTION)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${zarn_package})
set(CPACK_PACKAGE_VENDOR "The zarn authors")
set(CPACK_PACKAGE_CONTACT "${ZARN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "drive the platform from the service processor over the ruvo link")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
include(CPack)

if(ZARN_TESTS AND (NOT DEFINED BUILD_TESTING OR BUILD_TESTING))
  add_test(NAME package.install
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/package/check-install.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package.install PROPERTIES TIMEOUT 300 LABELS package)
endif()
