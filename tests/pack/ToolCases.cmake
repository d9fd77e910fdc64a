# The pack tool as a user runs it: the host-built pelto-pack through the steps of RunTool.cmake,
# on the launcher images and configurations in tool/.
if(WIN32)
  return()
endif()

function(pelto_pack_tool_test name)
  set(work "${CMAKE_CURRENT_BINARY_DIR}/tool/${name}")
  list(JOIN ARGN "\n" steps)
  file(WRITE "${work}.steps" "${steps}\n")
  add_test(NAME pack_tool_${name}
           COMMAND "${CMAKE_COMMAND}" "-DTOOL=$<TARGET_FILE:pelto-pack>" "-DSRC=${CMAKE_CURRENT_SOURCE_DIR}/tool"
                   "-DWORK=${work}" "-DSTEPS_FILE=${work}.steps" -P "${CMAKE_CURRENT_SOURCE_DIR}/RunTool.cmake")
endfunction()

set(launcher "--launcher {work}/launcher.exe")
set(build "run build {work}/c.toml -o {work}/out.exe ${launcher}")
set(refused "absent {work}/out.exe*")

# Configurations refused with the line and the reason, beside those of tests/pack/cases.
pelto_pack_tool_test(refused_configurations "refusals {src}/refused.txt")

# Included names: only those that stay inside the launch folder as written and name no device
# are packed; the launcher and dump --extract apply the same rule.
set(steps "append {work}/f.txt x")
foreach(name ".." "..\\x" "lib\\..\\..\\x" "lib/../x" "a\\.." "." ".\\a" "...\\x" ".{sp}.\\x" "lib\\...." "\\x" "/x"
             "\\\\server\\share\\x" "C:\\x" "C:x" "a.jar:stream" "lib/" "lib\\\\b" "nul" "NUL.txt" "lib\\con"
             "Com1.jar" "com1.txt" "aux.jar" "lpt9" "aux{sp}.txt" "CONOUT$" "a.jar." "lib{sp}\\a.jar" "a<b" "a>b"
             "a\"b" "a{bar}b" "a?b" "a*b" "a{semi}b" "Pelto.LOCK")
  list(APPEND steps "toml include-name.toml ${name}" "${build} | 2 | cannot be extracted |" "${refused}")
endforeach()
foreach(name "a.jar" "lib\\b.dll" "lib/b.dll" ".hidden" "..a" "x.y.z" "console.jar" "com0" "lpt10.txt" "nulx"
             "a{sp}b.jar" "pelto.lock.txt")
  list(APPEND steps "toml include-name.toml ${name}" "${build} | 0 | |")
endforeach()
pelto_pack_tool_test(include_names ${steps})
pelto_pack_tool_test(include_clash "append {work}/f.txt x" "copy {src}/include-clash.toml {work}/c.toml"
                     "${build} | 2 | clashes with \"lib\" |" "${refused}")
pelto_pack_tool_test(include_missing "copy {src}/include-missing.toml {work}/c.toml"
                     "${build} | 2 | missing.txt does not exist |" "${refused}")

# The runtime library is an included file unless turned off, from beside the launcher or from
# runtime-jar (relative to the configuration).
pelto_pack_tool_test(runtime_library
  "toml service-name.toml S" "${build} | 0 | |" "run dump {work}/out.exe --extract {work}/x1 | 0 | | name = \"pelto-runtime.jar\""
  "same {work}/x1/pelto-runtime.jar {work}/pelto-runtime.jar"
  "copy {src}/quorvanex.toml {work}/c.toml" "${build} | 0 | |" "run dump {work}/out.exe --extract {work}/x2 | 0 | |"
  "absent {work}/x2/*"
  "copy {src}/include-missing.toml {work}/c.toml" "append {work}/missing.txt m" "${build} | 0 | |"
  "run dump {work}/out.exe | 0 | | include-runtime = false"
  "mkdir {work}/lib" "append {work}/lib/mine.jar PK-mine" "toml runtime-jar.toml lib/mine.jar" "${build} | 0 | |"
  "run dump {work}/out.exe --extract {work}/x3 | 0 | |" "same {work}/x3/pelto-runtime.jar {work}/lib/mine.jar"
  "rm {work}/out.exe" "toml runtime-jar.toml nowhere.jar" "${build} | 2 | nowhere.jar: runtime library does not exist |" "${refused}"
  "rm {work}/pelto-runtime.jar" "toml service-name.toml S" "${build} | 2 | pelto-runtime.jar is included by default |"
  "${refused}")

# Launchers that cannot carry a block are refused; the default one lies beside the tool.
pelto_pack_tool_test(launchers_refused
  "copy {src}/norun.toml {work}/c.toml" "copy {src}/pe32.exe {work}/pe32.exe"
  "run build {work}/c.toml -o {work}/out.exe --launcher {work}/absent.exe | 2 | absent.exe: launcher does not exist |"
  "append {work}/text.exe just{sp}text"
  "run build {work}/c.toml -o {work}/out.exe --launcher {work}/text.exe | 2 | text.exe: not a PE32+ image |"
  "run build {work}/c.toml -o {work}/out.exe --launcher {work}/pe32.exe | 2 | 64-bit |"
  "run build {work}/c.toml -o {work}/packed.exe ${launcher} | 0 | |"
  "run build {work}/c.toml -o {work}/out.exe --launcher {work}/packed.exe | 2 | already carries a configuration block |"
  "copy {work}/launcher.exe {work}/tail.exe" "append {work}/tail.exe x"
  "run build {work}/c.toml -o {work}/out.exe --launcher {work}/tail.exe | 2 | behind its last section |"
  "run build {work}/c.toml -o {work}/out.exe | 2 | pelto-pack/pelto-launcher.exe: launcher does not exist |"
  "${refused}")

# What dump prints builds the same executable again, and --extract writes the included files.
set(example "${CMAKE_SOURCE_DIR}/examples")
pelto_pack_tool_test(example_round_trip
  "run build ${example}/hello-service.toml -o {work}/first.exe ${launcher} | 0 | |"
  "run dump {work}/first.exe --extract {work}/files | 0 | |" "copy {work}/last-out.txt {work}/dumped.toml"
  "run build {work}/dumped.toml -o {work}/second.exe ${launcher} | 0 | |" "same {work}/first.exe {work}/second.exe"
  "same {work}/files/doc/README.txt ${example}/hello-readme.txt"
  "run dump {work}/second.exe --extract {work}/files | 2 | files: is not empty |"
  "run dump {work}/second.exe | 0 | | dump with --extract DIR"
  "run build {work}/last-out.txt -o {work}/third.exe ${launcher} | 2 | pelto-pack dump EXE --extract DIR |")
pelto_pack_tool_test(raw_round_trip
  "copy {src}/raw.toml {work}/c.toml" "${build} | 0 | |" "run dump {work}/out.exe | 0 | |"
  "copy {work}/last-out.txt {work}/dumped.toml"
  "run build {work}/dumped.toml -o {work}/again.exe ${launcher} | 0 | |" "same {work}/out.exe {work}/again.exe")
# The launcher reads string-table texts in the machine's code page: typed keys take ASCII only,
# raw entries stay Windows-1252 in the block and UTF-8 again in the dump.
pelto_pack_tool_test(windows_1252
  "toml service-name.toml Dienst{sp}€" "${build} | 2 | takes ASCII only |" "${refused}"
  "copy {src}/raw.toml {work}/c.toml" "${build} | 0 | |" "hex {work}/out.exe 4dfc6c6c65722080"
  "run dump {work}/out.exe | 0 | | \"4243\" = \"Müller €\"")
pelto_pack_tool_test(rebuild_replaces_the_output
  "toml service-name.toml A" "${build} | 0 | |" "toml service-name.toml B" "${build} | 0 | |"
  "run dump {work}/out.exe | 0 | | name = \"B\"" "absent {work}/out.exe.*")

# dump --extract of a hostile executable writes nothing, inside or outside the folder, and a
# failed write removes what the dump had written.
foreach(kind dotdot device)
  set(name "..\\escaped.txt")
  if(kind STREQUAL "device")
    set(name "aux.jar")
  endif()
  pelto_pack_tool_test(dump_refuses_${kind}
    "run dump {src}/hostile-${kind}.exe --extract {work}/files | 2 | \"${name}\" is refused |"
    "absent {work}/escaped.txt {work}/files/*")
endforeach()
# --extract writes only into a new or empty folder, never through a link.
pelto_pack_tool_test(dump_extract_folder
  "append {work}/f.txt x" "copy {src}/two-files.toml {work}/c.toml" "${build} | 0 | |" "mkdir {work}/files/b.txt"
  "run dump {work}/out.exe --extract {work}/files | 2 | is not empty |" "absent {work}/files/a.txt"
  "mkdir {work}/elsewhere" "link {work}/elsewhere {work}/linked"
  "run dump {work}/out.exe --extract {work}/linked | 2 | is not a folder |" "absent {work}/elsewhere/*"
  "run dump {work}/out.exe --extract {work}/f.txt | 2 | is not a folder |"
  "run dump {work}/out.exe --extract {work}/new/x | 0 | |" "same {work}/new/x/b.txt {work}/f.txt")

# The output may not be one of the build's inputs, nor a folder; the command line says what it
# did and refuses what it would drop.
pelto_pack_tool_test(command_line
  "append {work}/f.txt x" "copy {src}/two-files.toml {work}/c.toml"
  "run build {work}/c.toml -o {work}/c.toml ${launcher} | 2 | is the configuration this build reads |"
  "run build {work}/c.toml -o {work}/launcher.exe ${launcher} | 2 | is the launcher this build reads |"
  "run build {work}/c.toml -o {work}/f.txt ${launcher} | 2 | is the included file this build reads |"
  "run build {work}/c.toml -o {work} ${launcher} | 2 | is a folder |"
  "run build {work}/c.toml -o {work}/nowhere/o.exe ${launcher} | 2 | o.exe: cannot be written: No such file |"
  "run build {work}/c.toml -o {work}/a.exe -o {work}/b.exe ${launcher} | 2 | -o is given twice |"
  "same {work}/launcher.exe {src}/launcher.exe" "${build} | 0 | | bytes, included: a.txt, b.txt)"
  "run check {work}/c.toml | 0 | | c.toml is a valid configuration" "run --version | 0 | | pelto-pack "
  "run keys | 0 | | (ConfigId 101)" "run keys --markdown | 0 | | `service.name`"
  "run init O'Brien{sp}Svc --main-class a.B | 0 | | build service.toml -o \"O'Brien Svc.exe\""
  "run init S --main-class a.B -o {work}/s.toml | 0 | |" "run check {work}/s.toml | 0 | |")

# Without a search of its own the block carries the default one, and dump shows it.
pelto_pack_tool_test(dump_default_search
  "copy {src}/norun.toml {work}/c.toml" "${build} | 0 | |" "run dump {work}/out.exe | 0 | | { dir = \"jre\" }"
  "run dump {work}/out.exe | 0 | | { env = \"JAVA_HOME\" }")
pelto_pack_tool_test(dump_of_a_plain_launcher "run dump {work}/launcher.exe | 2 | readInt |")

# The subsystem follows the configuration: console unless windowed, and [pack] subsystem wins.
pelto_pack_tool_test(subsystem
  "toml windowed.toml false" "${build} | 0 | |" "subsystem {work}/out.exe 3"
  "toml windowed.toml true" "${build} | 0 | |" "subsystem {work}/out.exe 2" "run dump {work}/out.exe | 0 | |"
  "toml subsystem.toml console" "${build} | 0 | |" "subsystem {work}/out.exe 3"
  "run dump {work}/out.exe --extract {work}/x | 0 | | subsystem = \"console\"" "copy {work}/last-out.txt {work}/dumped.toml"
  "run build {work}/dumped.toml -o {work}/again.exe ${launcher} | 0 | |" "same {work}/out.exe {work}/again.exe")
# [resources] and its icon come back from dump and build the same bytes again; a launcher that
# was signed packs to the same executable as the plain one.
pelto_pack_tool_test(resources_round_trip
  "copy {src}/app.ico {work}/app.ico" "toml resources.toml S" "${build} | 0 | |"
  "run dump {work}/out.exe --extract {work}/x | 0 | | company = \"Example Ltd\""
  "copy {work}/last-out.txt {work}/dumped.toml" "same {work}/x/resources.ico {src}/app.ico"
  "run build {work}/dumped.toml -o {work}/again.exe ${launcher} | 0 | |" "same {work}/out.exe {work}/again.exe"
  "hex {work}/out.exe 4500780061006d0070006c00650020004c0074006400"
  "run dump {work}/out.exe | 0 | | execution-level = \"requireAdministrator\"")
# An MSI needs the upgrade code and a version Windows Installer can compare.
set(msi "run msi {work}/c.toml --exe {work}/launcher.exe -o {work}/x.msi")
pelto_pack_tool_test(msi_refused
  "toml service-name.toml S" "${msi} | 2 | needs [installer] upgrade-code |"
  "toml installer.toml company{sp}={sp}\"C\"" "${msi} | 2 | [resources] product-version, which must be set |"
  "toml installer.toml product-version{sp}={sp}\"256.1\"" "${msi} | 2 | first two numbers up to 255 |" "absent {work}/x.*")
