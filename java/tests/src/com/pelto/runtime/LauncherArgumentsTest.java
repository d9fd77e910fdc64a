package com.pelto.runtime;

import static org.junit.jupiter.api.Assertions.*;
import org.junit.jupiter.params.*;
import org.junit.jupiter.params.provider.*;

class LauncherArgumentsTest {
    /** Arguments separated by "|", NULL for a null one; the whole list null for "NULL". */
    @ParameterizedTest
    @ValueSource(strings = {"false||||false", "false|/|||false", "false|/m|||false", "false|/m/|||false",
            "false|//x.Main|||false", "false|.Main|||false", "false|a..B|||false", "false|com.example.|||false",
            "false|a.B||", "0|a.B|||false", "false|a.B|||1", "false|a.B|NULL||true", "false|a.B|||true|p|NULL", "NULL"})
    void malformedArgumentsAreRejected(String list) {
        String[] args = list.equals("NULL") ? null : list.split("\\|", -1);
        for (int i = 0; args != null && i < args.length; i++) {
            args[i] = args[i].equals("NULL") ? null : args[i];
        }
        LaunchException ex = assertThrows(LaunchException.class, () -> LauncherArguments.parse(args));
        assertTrue(ex.getMessage().startsWith("bad launcher arguments: "), ex.getMessage());
    }
}
