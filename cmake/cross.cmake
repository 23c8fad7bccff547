# A cross build (tools/mips-linux-gnu.cmake) runs its programs under an
# emulator: CTest and test discovery put it in front by themselves; the test
# harness and tools/make-root are told which one here.
if(CMAKE_CROSSCOMPILING_EMULATOR AND TARGET test_support)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
  target_compile_definitions(test_support PRIVATE APPLIANCE_EMULATOR="${emulator}")
endif()
