# The black-box cases of the launcher core.
set(usage "Usage: %s.exe /install | /uninstall | /stop | /start | /status | /run | /run-redirect")

if(EXISTS "${CMAKE_SOURCE_DIR}/tests/launcher/pending/ConfigPendingWin.cpp")
  # Until the configuration reader is merged, the plain launcher runs on empty tables.
  set(core pelto-launcher)
else()
  pelto_e2e_test(plain_launcher_without_block EXE pelto-launcher EXIT 1 ERR "Internal Error: readInt")
  pelto_packed_launcher(e2e_minimal "${CMAKE_CURRENT_SOURCE_DIR}/cases/minimal.toml")
  set(core e2e_minimal)
endif()

string(REPLACE "%s" "${core}" usage_line "${usage}")
pelto_e2e_test(usage_help EXE ${core} ARGS /help EXIT 0 OUT "${usage_line}")
pelto_e2e_test(usage_question_two_dashes EXE ${core} ARGS --? EXIT 0 OUT "${usage_line}")
pelto_e2e_test(usage_logs_the_command_line EXE ${core} ARGS -help "My Svc" LOG EXIT 0 OUT "${usage_line}"
               LOG_LINES "command line " "-help \"My Svc\"" "working directory unchanged")
pelto_e2e_test(verb_case_matters EXE ${core} ARGS /HELP LOG EXIT 0 NO_OUT "Usage:"
               LOG_LINES "calling StartServiceCtrlDispatcher" "StartServiceCtrlDispatcher failed with error 1063"
                         "StartServiceCtrlDispatcher returned")
string(REPEAT "s" 6000 long_name)
pelto_e2e_test(service_name_too_long EXE ${core} ARGS /help ${long_name} EXIT 1 NO_OUT "Usage:"
               OUT "The service name is too long")
