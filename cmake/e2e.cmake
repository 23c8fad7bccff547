# The demo appliance behind a real web server: its start page, and the
# end-to-end tests that drive lighttpd with curl and headless Chromium.

add_executable(index.cgi demo/index.cpp)
webadmin_program(index.cgi DESTINATION www/cgi-bin)

# The configuration page: back-up and restore of the whole configuration.
add_executable(config.cgi demo/config.cpp)
webadmin_program(config.cgi DESTINATION www/cgi-bin)

# The firewall daemon's stand-in, which writes the queued commands to a log.
add_executable(firewall-daemon demo/firewall_daemon.cpp)
webadmin_program(firewall-daemon)

if(WEBADMIN_TESTS)
  # The start page's process test runs the program it checks.
  add_dependencies(e2e_tests index.cgi)

  # The web server and browser tests drive the host's lighttpd, node and
  # Chromium: the plain build only, as the sanitizers instrument none of
  # them, and labelled host-only, so a cross build's emulator run leaves
  # them out.
  if(NOT WEBADMIN_SANITIZE)
    foreach(name http_upgrade browser_upgrade demo_load)
      add_test(NAME e2e_${name}
               COMMAND node --test --test-reporter=tap ${CMAKE_SOURCE_DIR}/tests/e2e/${name}.test.mjs)
      set_tests_properties(e2e_${name} PROPERTIES
        ENVIRONMENT "BUILD_DIR=${CMAKE_BINARY_DIR}"
        TIMEOUT 600
        LABELS "e2e;host-only")
    endforeach()
  endif()
endif()
