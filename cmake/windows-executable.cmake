# clipindex.exe: no C or C++ runtime, its own entry point, only kernel32, user32 and advapi32.
# The oldest Windows that the file says it starts on, as OS and subsystem version, set here rather than
# left to the linker's default: 4.0 for the shipped file, which every Windows with Internet Explorer
# starts; 5.2, the first 64-bit Windows, for the 64-bit build.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CLIPINDEX_ENTRY _ClipindexStart)  # 32-bit C symbols carry a leading underscore
  set(CLIPINDEX_WINDOWS_MAJOR 4)
  set(CLIPINDEX_WINDOWS_MINOR 0)
else()
  set(CLIPINDEX_ENTRY ClipindexStart)
  set(CLIPINDEX_WINDOWS_MAJOR 5)
  set(CLIPINDEX_WINDOWS_MINOR 2)
endif()

enable_language(RC)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The icon is drawn by a script, so it can be remade and reviewed as text.
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/clipindex.ico
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/resources/make_icon.py ${CMAKE_CURRENT_BINARY_DIR}/clipindex.ico
  DEPENDS ${PROJECT_SOURCE_DIR}/resources/make_icon.py
  COMMENT "Drawing clipindex.ico")
add_custom_target(clipindex_icon DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/clipindex.ico)
set(CLIPINDEX_RC ${PROJECT_SOURCE_DIR}/resources/clipindex.rc)
set_source_files_properties(${CLIPINDEX_RC} PROPERTIES
  OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/resources/clipindex.htm;${CMAKE_CURRENT_BINARY_DIR}/clipindex.ico")

# Code generation for a program without a runtime library. With link-time optimisation the code is
# made when linking, so these go to the compiler and to the link alike. There is no stack probe to
# call (__chkstk lives in the runtime), so a large stack frame must stay a compile error.
set(CLIPINDEX_CODEGEN
  -Os -flto -fomit-frame-pointer -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-stack-protector
  # keeps GCC from turning the byte loops into calls to memcpy or memset, which nothing provides
  -fno-tree-loop-distribute-patterns
  -Wframe-larger-than=4000)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # 32-bit calls: arguments pushed as they come, no probe, 4-byte stack alignment (nothing needs more)
  list(APPEND CLIPINDEX_CODEGEN -mno-stack-arg-probe -mno-accumulate-outgoing-args -mpreferred-stack-boundary=2)
endif()

add_executable(clipindex WIN32 ${PRODUCT_SOURCES} ${CLIPINDEX_RC})
add_dependencies(clipindex clipindex_icon)
target_include_directories(clipindex PRIVATE ${PROJECT_SOURCE_DIR}/resources ${CMAKE_CURRENT_BINARY_DIR})
target_compile_options(clipindex PRIVATE ${PROJECT_WARNINGS} ${PRODUCT_CHARSET} ${CLIPINDEX_CODEGEN} -fno-ident)
target_link_options(clipindex PRIVATE
  ${PROJECT_WARNINGS} ${CLIPINDEX_CODEGEN}
  -nostdlib -s
  -Wl,-e,${CLIPINDEX_ENTRY}
  -Wl,--subsystem,windows:${CLIPINDEX_WINDOWS_MAJOR}.${CLIPINDEX_WINDOWS_MINOR}
  -Wl,--major-os-version,${CLIPINDEX_WINDOWS_MAJOR} -Wl,--minor-os-version,${CLIPINDEX_WINDOWS_MINOR}
  -Wl,--gc-sections
  -Wl,--file-alignment,512
  # no time stamp: two builds of one commit give the same bytes
  -Wl,--no-insert-timestamp)
target_link_libraries(clipindex PRIVATE kernel32 user32 advapi32)

# The Wine tests run the 64-bit build, with helper programs of their own.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_subdirectory(tests/wine/helpers)
endif()
