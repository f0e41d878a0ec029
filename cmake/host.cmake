# The host build: the installer's logic on the stand-in of the Win32 functions, and the test suite.
enable_testing()

add_library(clipindex_product STATIC ${PRODUCT_SOURCES})
target_compile_options(clipindex_product PRIVATE ${PROJECT_WARNINGS} ${PRODUCT_CHARSET})

add_library(win32_standin STATIC platform/host/win32_standin.cpp)
target_compile_options(win32_standin PRIVATE ${PROJECT_WARNINGS})
target_include_directories(win32_standin PUBLIC platform/host)
target_link_libraries(clipindex_product PUBLIC win32_standin)

add_subdirectory(tests/host)

# Where the two Windows builds are, for the tests that check or run their executables.
set(CLIPINDEX_WIN32_DIR "${CMAKE_BINARY_DIR}/../win32" CACHE PATH "build folder of the 32-bit clipindex.exe")
set(CLIPINDEX_WIN64_DIR "${CMAKE_BINARY_DIR}/../win64" CACHE PATH "build folder of the 64-bit clipindex.exe")
add_subdirectory(tests/exe)
add_subdirectory(tests/browser)
add_subdirectory(tests/wine)

# clang-format, clang-tidy and cppcheck over the project's own C++.
add_test(NAME lint COMMAND ${PROJECT_SOURCE_DIR}/scripts/lint ${CMAKE_BINARY_DIR} ${CLIPINDEX_WIN64_DIR})
set_tests_properties(lint PROPERTIES LABELS lint)
