# Cross-compiles the programs for a Mac with clang on another system, against
# an SDK's headers: VOSKELD_APPLE_SDK names the sysroot and VOSKELD_APPLE_ARCH
# the one architecture, from the environment, as a toolchain file is read
# again by every try-compile.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_OSX_SYSROOT "$ENV{VOSKELD_APPLE_SDK}")
set(CMAKE_OSX_ARCHITECTURES "$ENV{VOSKELD_APPLE_ARCH}")
# No Mac libraries here to link a test program against.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# clang off a Mac heeds -arch only with a Darwin target.
set(CMAKE_C_COMPILER_TARGET "$ENV{VOSKELD_APPLE_ARCH}-apple-macosx")
set(CMAKE_CXX_COMPILER_TARGET "$ENV{VOSKELD_APPLE_ARCH}-apple-macosx")
# C headers only: a Mac before 10.7 has no C++ library, nor its headers.
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++")
