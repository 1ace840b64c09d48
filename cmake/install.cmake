# What `cmake --install` puts on a machine and what `cpack -G DEB` packs:
# the program, its manual page and its bash completion. The agent simulator is
# a development tool and goes in only when asked for, with
# -DZARN_INSTALL_AGENT_SIM=ON or `cmake --install BUILD --component agent-sim`.
include(GNUInstallDirs)

option(ZARN_INSTALL_AGENT_SIM "Install zarn-agent-sim and its manual page by default" OFF)

install(TARGETS zarn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT zarn)
install(FILES man/zarn.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT zarn)
install(FILES completion/zarn.bash RENAME zarn
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT zarn)

if(TARGET zarn-agent-sim)
  if(ZARN_INSTALL_AGENT_SIM)
    set(agent_sim_default "")
  else()
    set(agent_sim_default EXCLUDE_FROM_ALL)
  endif()
  install(TARGETS zarn-agent-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT agent-sim ${agent_sim_default})
  install(FILES man/zarn-agent-sim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT agent-sim ${agent_sim_default})
endif()

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(powerpc|ppc)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE powerpc)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zarn)
set(CPACK_PACKAGE_VENDOR "zarn developers")
set(CPACK_PACKAGE_CONTACT "zarn developers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "drive the platform from the service processor over the ruvo link")
set(CPACK_PACKAGE_DESCRIPTION
    "zarn runs on a server's service processor and drives the server's main system over \
a private link: reboot or shut it down, read its time, temperature, host data, version and \
network settings, fetch CPU vital product data, and re-address the link.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
# Even the static build loads the C library's name-service modules at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libc6)
include(CPack)

if(ZARN_TESTS AND (NOT DEFINED BUILD_TESTING OR BUILD_TESTING))
  add_test(NAME package.install
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/package/check-install.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package.install PROPERTIES TIMEOUT 120 LABELS package)
endif()
