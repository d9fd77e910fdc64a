package com.pelto.runtime;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

class LauncherArgumentsTest {
    @Test
    void readsTheFixedArgumentsByPosition() throws Exception {
        LauncherArguments a = LauncherArguments.parse(new String[] {
                "TRUE", "/m.app/com.example.Main", "c:\\out.log", "", "False", "svc", "x", ""});
        assertTrue(a.windowed);
        assertEquals("m.app", a.moduleName);
        assertEquals("com.example.Main", a.mainClass);
        assertEquals("c:\\out.log", a.stdoutFile);
        assertEquals("", a.stderrFile);
        assertFalse(a.append);
        assertEquals("svc", a.programName);
        assertArrayEquals(new String[] {"x", ""}, a.applicationArgs);
    }

    @Test
    void classPathModeAcceptsInternalNamesAndNoProgramName() throws Exception {
        LauncherArguments a = LauncherArguments.parse(new String[] {"false", "com/example/Main", "", "", "true"});
        assertFalse(a.isModuleMode());
        assertEquals("com.example.Main", a.mainClass);
        assertNull(a.programName);
        assertEquals(0, a.applicationArgs.length);
        LauncherArguments m = LauncherArguments.parse(new String[] {"false", "/m/x/Y", "", "", "true"});
        assertEquals("m", m.moduleName);
        assertEquals("x.Y", m.mainClass);
    }

    @ParameterizedTest
    @ValueSource(strings = {"", "/", "/m", "/m/", "//x.Main", ".Main", "a..B", "com.example."})
    void rejectsMalformedMainClasses(String main) {
        LaunchException ex = assertThrows(LaunchException.class,
                () -> LauncherArguments.parse(new String[] {"false", main, "", "", "false"}));
        assertTrue(ex.getMessage().startsWith("bad launcher arguments: "), ex.getMessage());
    }

    @Test
    void rejectsShortListsBadFlagsAndNulls() {
        assertThrows(LaunchException.class, () -> LauncherArguments.parse(null));
        assertThrows(LaunchException.class, () -> LauncherArguments.parse(new String[] {"false", "a.B", "", ""}));
        assertThrows(LaunchException.class, () -> LauncherArguments.parse(new String[] {"0", "a.B", "", "", "false"}));
        assertThrows(LaunchException.class, () -> LauncherArguments.parse(new String[] {"false", "a.B", "", "", "1"}));
        assertThrows(LaunchException.class, () -> LauncherArguments.parse(new String[] {"false", "a.B", null, "", "true"}));
        assertThrows(LaunchException.class,
                () -> LauncherArguments.parse(new String[] {"false", "a.B", "", "", "true", "p", null}));
    }

    @Test
    void splashSettingsAreKeptInOrder() {
        WinLauncher.initAwtSplashConfig(true, false, "one", 1, 2, "two", 3, 4, null, 5, 6, "vier ✓", 7, 8);
        SplashConfig c = WinLauncher.getSplashConfig();
        assertTrue(c.isEnabled());
        assertFalse(c.getOption());
        assertEquals(4, c.getItemCount());
        String[] texts = {"one", "two", "", "vier ✓"};
        for (int i = 0; i < 4; i++) {
            assertEquals(texts[i], c.getItem(i).getText());
            assertEquals(2 * i + 1, c.getItem(i).getFirst());
            assertEquals(2 * i + 2, c.getItem(i).getSecond());
        }
    }
}
