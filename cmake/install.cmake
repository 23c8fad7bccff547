# The test of the installed tree (tests/install) installs this build into a
# temporary DESTDIR and reads what it installed with readelf.
if(TARGET install_tests)
  target_compile_definitions(install_tests PRIVATE CMAKE_COMMAND_PATH="${CMAKE_COMMAND}" READELF="${CMAKE_READELF}"
    CXX_RUNTIME_LINKED_IN=$<NOT:$<BOOL:${WEBADMIN_SANITIZE}>>)
  add_dependencies(install_tests webadmin index.cgi config.cgi)
endif()
