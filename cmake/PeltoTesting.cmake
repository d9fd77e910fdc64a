# GoogleTest: Debian's libgtest-dev on the host, the sources of Debian's googletest for MinGW.
if(WIN32)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  set(PELTO_GTEST GTest::gtest)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
  endif()
else()
  find_package(GTest REQUIRED)
  set(PELTO_GTEST GTest::gtest)
endif()

# Unit tests of the portable code run on both targets; each links the host log capture.
add_library(pelto_test_support STATIC "${CMAKE_SOURCE_DIR}/tests/support/TestLog.cpp"
                                      "${CMAKE_SOURCE_DIR}/tests/support/TestMain.cpp")
target_include_directories(pelto_test_support PUBLIC "${CMAKE_SOURCE_DIR}/tests" "${CMAKE_SOURCE_DIR}/src")
# The log capture converts with pelto_core's UTF helpers.
target_link_libraries(pelto_test_support PUBLIC ${PELTO_GTEST} pelto_core)

# pelto_unit_test(NAME SOURCES...): a portable unit test, linked with pelto_core.
function(pelto_unit_test name)
  add_executable(${name} ${ARGN})
  target_compile_options(${name} PRIVATE ${PELTO_WARNINGS})
  if(WIN32)
    # The Windows seams of the portable code live in pelto_win.
    target_link_libraries(${name} PRIVATE pelto_win pelto_test_support)
  else()
    target_link_libraries(${name} PRIVATE pelto_core pelto_test_support)
  endif()
  add_test(NAME ${name} COMMAND ${name})
endfunction()

# pelto_windows_test(NAME SOURCES...): a test of the Windows side, run under Wine.
function(pelto_windows_test name)
  if(WIN32)
    add_executable(${name} ${ARGN})
    target_compile_options(${name} PRIVATE ${PELTO_WARNINGS})
    target_link_libraries(${name} PRIVATE pelto_win pelto_test_support)
    add_test(NAME ${name} COMMAND ${name})
  endif()
endfunction()

# pelto_test_folder(NAME): the tests of one folder under tests/, by file name:
#   *Test.cpp     portable unit tests, one executable NAME_tests, run on both targets;
#   *WinTest.cpp  tests of the Windows side, one executable NAME_win_tests, run under Wine.
function(pelto_test_folder name)
  file(GLOB all CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp")
  set(portable ${all})
  list(FILTER portable EXCLUDE REGEX "WinTest\\.cpp$")
  set(win ${all})
  list(FILTER win INCLUDE REGEX "WinTest\\.cpp$")
  if(portable)
    pelto_unit_test(${name}_tests ${portable})
  endif()
  if(win)
    pelto_windows_test(${name}_win_tests ${win})
  endif()
endfunction()

# The pack tool runs on the host; scripts/test builds the host preset first.
set(PELTO_HOST_PACK "${CMAKE_SOURCE_DIR}/build/host/tools/pelto-pack/pelto-pack"
    CACHE FILEPATH "The host-built pelto-pack used to pack the test launchers")

# pelto_pack_command(OUT TOML [EXTRA_DEPENDS...]): a build rule packing the launcher with TOML
# into OUT by the host-built pack tool.
function(pelto_pack_command out toml)
  get_filename_component(name "${out}" NAME)
  add_custom_command(OUTPUT "${out}"
    COMMAND "${CMAKE_COMMAND}" -E rm -f "${out}"
    COMMAND "${PELTO_HOST_PACK}" build "${toml}" -o "${out}" --launcher "$<TARGET_FILE:pelto-launcher>"
    DEPENDS pelto-launcher pelto_runtime_jar "${PELTO_RUNTIME_JAR}" "${toml}" "${PELTO_HOST_PACK}" ${ARGN}
    COMMENT "Packing ${name}")
endfunction()
