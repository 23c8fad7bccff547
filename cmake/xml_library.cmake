# The XML tests once more against a library as old as the appliance's: a
# build that exports only the twelve calls the library binds (no node
# accessors, so the element nodes are read by their published layout), and
# one that lacks one of the twelve (nothing may bind).  Host-only, like the
# XML tests themselves.
if(WEBADMIN_TESTS AND NOT CMAKE_CROSSCOMPILING)
  find_file(MACHINE_XML_LIBRARY libmxml.so.1 PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE} /usr/lib
            NO_DEFAULT_PATH REQUIRED)
  foreach(variant twelve eleven)
    add_library(xml_${variant}_calls SHARED ${CMAKE_SOURCE_DIR}/tests/runtime/xml_old_library.c)
    set_target_properties(xml_${variant}_calls PROPERTIES
      PREFIX lib OUTPUT_NAME mxml SUFFIX .so.1 C_VISIBILITY_PRESET hidden
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/xml-${variant}-calls)
    target_compile_definitions(xml_${variant}_calls PRIVATE MACHINE_LIBRARY="${MACHINE_XML_LIBRARY}")
    target_link_libraries(xml_${variant}_calls PRIVATE ${CMAKE_DL_LIBS})
  endforeach()
  target_compile_definitions(xml_eleven_calls PRIVATE OMIT_LAST)

  # The programs that hold the XML tests (and the SQLite ones, which pass
  # whichever XML library is loaded).
  foreach(target runtime_host_tests system_host_tests)
    add_dependencies(${target} xml_twelve_calls xml_eleven_calls)
    gtest_discover_tests(${target} TEST_SUFFIX .twelve_calls DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300
      LABELS host-only
      ENVIRONMENT "LD_LIBRARY_PATH=${CMAKE_BINARY_DIR}/xml-twelve-calls")
  endforeach()
  add_test(NAME runtime_xml_eleven_calls COMMAND runtime_host_tests --gtest_filter=XmlBinding.*)
  set_tests_properties(runtime_xml_eleven_calls PROPERTIES LABELS host-only
    ENVIRONMENT "LD_LIBRARY_PATH=${CMAKE_BINARY_DIR}/xml-eleven-calls")
endif()
