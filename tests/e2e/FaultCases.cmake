# Fault cases: damaged input that must end in its documented message and exit code, never a
# crash or a hang, and leave no temporary file or directory behind.

# The minimal block: magic, reserved (16 bytes), string count 3 at 20, the service name entry (id
# at 24, length at 28, "M"), the main class ("M") and the flavour ("e"), the wide count at 51,
# the message texts (the first length at 59), the locale count last.
if(TARGET e2e_minimal)
  # Counts claiming more entries than the file holds: the reader stops at the first short read.
  pelto_e2e_test(fault_string_count_beyond_the_file EXE e2e_minimal ARGS /help LOG EXIT 1 PATCH_BLOCK 20=100000
                 NO_OUT "Usage:" ERR "Internal Error: read" NO_TEMP_LEFT)
  pelto_e2e_test(fault_wide_count_beyond_the_file EXE e2e_minimal ARGS /help EXIT 1 PATCH_BLOCK 51=100000
                 NO_OUT "Usage:" ERR "Internal Error: readInt" NO_TEMP_LEFT)
  pelto_e2e_test(fault_locale_count_beyond_the_file EXE e2e_minimal ARGS /help LOG EXIT 1 PATCH_BLOCK -4=7
                 NO_OUT "Usage:" ERR "Internal Error: readInt" LOG_LINES "error 0 0\n" NO_TEMP_LEFT)
  pelto_e2e_test(fault_most_negative_count_is_none EXE e2e_minimal ARGS /help EXIT 0 PATCH_BLOCK -4=0x80000000
                 OUT "Usage:" NO_TEMP_LEFT)
  # A text length claiming more than the rest of the file, or a negative one.
  pelto_e2e_test(fault_string_length_beyond_the_file EXE e2e_minimal ARGS /help EXIT 1 PATCH_BLOCK 28=0x7FFFFFF0
                 NO_OUT "Usage:" ERR "Internal Error: readString" NO_TEMP_LEFT)
  pelto_e2e_test(fault_negative_string_length EXE e2e_minimal ARGS /help EXIT 1 PATCH_BLOCK 28=0xFFFFFFFF
                 NO_OUT "Usage:" ERR "Internal Error: readString" NO_TEMP_LEFT)
  pelto_e2e_test(fault_wide_length_beyond_the_file EXE e2e_minimal ARGS /help EXIT 1 PATCH_BLOCK 59=0x40000000
                 NO_OUT "Usage:" ERR "Internal Error: readWString" NO_TEMP_LEFT)
  pelto_e2e_test(fault_wrong_magic EXE e2e_minimal ARGS /help EXIT 1 PATCH_BLOCK 0=0x12345678
                 NO_OUT "Usage:" ERR "Internal Error: magic" NO_TEMP_LEFT)

  # Unusable temporary directories, one fall-back after the other, seen by where the log lands:
  # %TEMP% that cannot be created, then %USERPROFILE%\AppData\Local\Temp, then the home folder.
  pelto_e2e_test(fault_temp_falls_back_to_the_profile EXE e2e_minimal ARGS /help LOG EXIT 0
                 ENV "TMP={run}\\missing\\deeper" "TEMP={run}\\missing\\deeper" "USERPROFILE={run}\\profile"
                 MKDIR "profile\\AppData\\Local\\Temp" LOG_DIR "profile\\AppData\\Local\\Temp"
                 LOG_LINES "command line" NO_TEMP_LEFT)
  pelto_e2e_test(fault_temp_falls_back_to_the_home_folder EXE e2e_minimal ARGS /help LOG EXIT 0
                 ENV "TMP={run}\\missing\\deeper" "TEMP={run}\\missing\\deeper" "USERPROFILE={run}\\noprofile"
                     "HOMEDRIVE={run}" "HOMEPATH=\\home"
                 MKDIR "home" LOG_DIR "home" LOG_LINES "command line" NO_TEMP_LEFT)
  # A %TEMP% the ANSI code page cannot name is passed over as well.
  pelto_e2e_test(fault_temp_unrepresentable_falls_back_to_the_profile EXE e2e_minimal ARGS /help LOG EXIT 0
                 ENV "TMP={run}\\x{cjk}" "TEMP={run}\\x{cjk}" "USERPROFILE={run}\\profile"
                 MKDIR "x{cjk}" "profile\\AppData\\Local\\Temp" LOG_DIR "profile\\AppData\\Local\\Temp"
                 LOG_LINES "command line" NO_TEMP_LEFT)
endif()
