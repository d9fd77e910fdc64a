# The black-box cases of the launcher core.
set(usage "Usage: %s.exe /install | /install-auto | /install-demand | /install-and-start | /uninstall | /start | /stop | /restart | /status | /run | /run-redirect | /help")

# Without a configuration block the launcher ends in the block reader.
pelto_e2e_test(plain_launcher_without_block EXE pelto-launcher EXIT 1 ERR "Internal Error: readInt")

# The cases below need the host-built pack tool; without it they are left out.
pelto_packed_launcher(e2e_minimal "${CMAKE_CURRENT_SOURCE_DIR}/cases/minimal.toml")
set(core e2e_minimal)

# The working directory: resolved against the executable's directory, whatever directory the
# launcher was started from (the driver starts it from the build folder of the tests).
pelto_wine_path(here "${CMAKE_CURRENT_BINARY_DIR}")
file(MAKE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/wd_sub" "${CMAKE_CURRENT_BINARY_DIR}/wd_var")
pelto_packed_launcher(e2e_workdir_relative "${CMAKE_CURRENT_SOURCE_DIR}/cases/workdir-relative.toml")
pelto_packed_launcher(e2e_workdir_variable "${CMAKE_CURRENT_SOURCE_DIR}/cases/workdir-variable.toml")
pelto_e2e_test(workdir_relative EXE e2e_workdir_relative ARGS /help EXIT 0
               LOG_LINES "change working directory to ${here}\\wd_sub\n")
pelto_e2e_test(workdir_variable EXE e2e_workdir_variable ARGS /help EXIT 0
               LOG_LINES "change working directory to ${here}\\wd_var\n")
pelto_e2e_test(workdir_unchanged EXE e2e_minimal ARGS /help EXIT 0 LOG_LINES "working directory unchanged")

string(REPLACE "%s" "${core}" usage_line "${usage}")
pelto_e2e_test(usage_help EXE ${core} ARGS /help EXIT 0 OUT "${usage_line}")
pelto_packed_launcher(e2e_windowed "${CMAKE_CURRENT_SOURCE_DIR}/cases/windowed.toml")
string(REPLACE "%s" "e2e_windowed" windowed_usage "${usage}")
pelto_e2e_test(usage_help_windowed EXE e2e_windowed ARGS /help EXIT 0 OUT "${windowed_usage}")
pelto_e2e_test(run_windowed EXE e2e_windowed ARGS /run EXIT 1 LOG LOG_LINES "Searching for a JVM" "ERROR: No JVM found")
pelto_e2e_test(run_without_included_files_makes_no_folder EXE ${core} ARGS /run EXIT 1 LOG LOG_LINES "Included files: 0"
               NO_LOG_LINES "Temp dir3")
pelto_e2e_test(usage_question_two_dashes EXE ${core} ARGS --? EXIT 0 OUT "${usage_line}")
pelto_e2e_test(usage_logs_the_command_line EXE ${core} ARGS -help "My Svc" LOG EXIT 0 OUT "${usage_line}"
               LOG_LINES "command line " "-help \"My Svc\"")
# An unknown verb (case matters) is refused at once, naming the nearest verb; it never reaches
# the service dispatcher.
pelto_e2e_test(verb_case_matters EXE ${core} ARGS /HELP LOG EXIT 2 OUT "Unknown verb \"/HELP\": did you mean /help?" "${usage_line}"
               LOG_LINES "unknown verb /HELP" NO_LOG_LINES "StartServiceCtrlDispatcher")
string(REPEAT "s" 6000 long_name)
pelto_e2e_test(service_name_too_long EXE ${core} ARGS /help ${long_name} EXIT 1 NO_OUT "Usage:"
               OUT "The service name is too long")

# The native library directories go in front of PATH in their order, each also registered as a
# DLL directory; the launch then ends for want of a Java runtime. A ";" in a line would split the
# CMake list: $<SEMICOLON> keeps the separators in the checked text.
pelto_packed_launcher(e2e_native_dirs "${CMAKE_CURRENT_SOURCE_DIR}/cases/native-dirs.toml")
pelto_e2e_test(native_library_directories EXE e2e_native_dirs ARGS /run EXIT 1
               ENV "PELTO_TEST_NATIVE_DIR=C:\\from-env" "PATH=C:\\old"
               LOG_LINES "Adding DLL directory ${here}\\lib\n" "Adding DLL directory C:\\native\n"
                         "Adding DLL directory C:\\from-env\\x64\n"
                         "Setting PATH (native libs) ${here}\\lib$<SEMICOLON>C:\\native$<SEMICOLON>C:\\from-env\\x64$<SEMICOLON>C:\\old\n")
pelto_packed_launcher(e2e_native_noflag "${CMAKE_CURRENT_SOURCE_DIR}/cases/native-noflag.toml")
pelto_e2e_test(native_library_directories_unregistered EXE e2e_native_noflag ARGS /run EXIT 1 ENV "PATH=C:\\old"
               LOG_LINES "Setting PATH (native libs) C:\\native$<SEMICOLON>C:\\old\n" NO_LOG_LINES "Adding DLL directory")
# More directories than the room holds: those beyond it are left out, never cut or overrun.
string(REPEAT "d$<SEMICOLON>" 2500 many_dirs)
pelto_e2e_test(native_library_directories_beyond_the_room EXE e2e_native_dirs ARGS /run EXIT 1
               ENV "PELTO_TEST_NATIVE_DIR=${many_dirs}" LOG_LINES "left out: no room")
