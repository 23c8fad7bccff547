# The appliance's MySQL client library, built over the system's client for
# this machine, and the tests that run the library's MySQL calls through it
# against a real server.  A cross build has neither, so it leaves both out.
if(WEBADMIN_TESTS AND NOT CMAKE_CROSSCOMPILING)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MARIADB REQUIRED IMPORTED_TARGET libmariadb)
  add_library(appliance_mysqlclient SHARED platform/mysqlclient/mysql_client.cpp)
  target_link_libraries(appliance_mysqlclient PRIVATE PkgConfig::MARIADB)
  set_target_properties(appliance_mysqlclient PROPERTIES
    OUTPUT_NAME mysqlclient SOVERSION 15
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/mysqlclient)

  # One process starts the server for all of its tests.  The web pages find
  # the client by its name on the loader's path; a second run without it
  # checks what the calls do when the client is missing.
  add_executable(runtime_test_mysql tests/runtime/test_mysql.cpp)
  target_link_libraries(runtime_test_mysql PRIVATE test_support GTest::gtest_main)
  target_include_directories(runtime_test_mysql PRIVATE ${MARIADB_INCLUDE_DIRS})
  add_dependencies(runtime_test_mysql appliance_mysqlclient)
  add_test(NAME runtime_test_mysql COMMAND runtime_test_mysql --gtest_filter=-MysqlWithoutClient.*)
  add_test(NAME runtime_test_mysql_without_client COMMAND runtime_test_mysql --gtest_filter=MysqlWithoutClient.*)
  set_tests_properties(runtime_test_mysql PROPERTIES
    ENVIRONMENT "LD_LIBRARY_PATH=${CMAKE_BINARY_DIR}/mysqlclient"
    TIMEOUT 300 LABELS host-only)
  set_tests_properties(runtime_test_mysql_without_client PROPERTIES TIMEOUT 60 LABELS host-only)

  # The modules that keep data in MySQL, each program with a server of its own.
  foreach(name ap_setting)
    add_executable(system_test_${name}_mysql tests/system/test_${name}_mysql.cpp)
    target_link_libraries(system_test_${name}_mysql PRIVATE test_support GTest::gtest_main)
    add_dependencies(system_test_${name}_mysql appliance_mysqlclient)
    add_test(NAME system_test_${name}_mysql COMMAND system_test_${name}_mysql)
    set_tests_properties(system_test_${name}_mysql PROPERTIES
      ENVIRONMENT "LD_LIBRARY_PATH=${CMAKE_BINARY_DIR}/mysqlclient" TIMEOUT 300 LABELS host-only)
  endforeach()
endif()
