# What the two MinGW-w64 toolchain files share: Debian's cross compilers for MINGW_TRIPLE, and its
# headers and libraries only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# CMake's link rule for these targets first archives the objects, which -flto makes LTO objects: the gcc-
# wrappers give ar and ranlib the plugin that reads them (binutils 2.44, in Debian 13, warns without it).
set(CMAKE_AR ${MINGW_TRIPLE}-gcc-ar)
set(CMAKE_RANLIB ${MINGW_TRIPLE}-gcc-ranlib)
