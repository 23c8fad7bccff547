# The appliance's own processor: 32-bit big-endian MIPS, built with Debian's
# cross compiler against its sysroot, and run under qemu-mips.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

set(CMAKE_C_COMPILER mips-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mips-linux-gnu-g++)

set(MIPS_SYSROOT /usr/mips-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${MIPS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest, test discovery and the test harness run the build's programs with it.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-mips -L ${MIPS_SYSROOT})

# The appliance's flash is small: its build is for size, every function and
# datum in a section of its own so that the link drops what nothing uses,
# and only the shared objects a program uses are named in it.  The project
# adds these to its own flags (warnings stay errors).
set(APPLIANCE_COMPILE_OPTIONS -Os -ffunction-sections -fdata-sections)
set(APPLIANCE_LINK_OPTIONS LINKER:--gc-sections LINKER:--as-needed)
