package com.pelto.runtime.test;

import static org.junit.jupiter.api.Assertions.*;
import com.pelto.runtime.test.TestEnv.Child;
import com.pelto.runtime.test.TestEnv.Result;
import java.io.*;
import java.nio.file.*;
import java.util.*;
import org.junit.jupiter.api.*;
import org.junit.jupiter.api.io.*;
import org.junit.jupiter.params.*;
import org.junit.jupiter.params.provider.*;

/**
 * The launcher class in a child JVM with the sample application, where the recorded launches of
 * the contract replay do not reach: failures, and the stop watcher's input. DIR in a row stands
 * for the test's folder.
 */
class LaunchProcessTest {
    private static final String PELTO = "com.pelto.runtime.WinLauncher";
    private static final String QUORVANEX = "com.quorvanex.runtime.launcher.WinLauncher";

    @TempDir
    Path dir;

    /** JVM options: the class path samples, or sample.mod on the module path with its package open or not. */
    private List<String> options(String layout, String... more) throws Exception {
        List<String> opts = new ArrayList<>(layout.equals("cp")
                ? List.of("-cp", TestEnv.given("jar") + File.pathSeparator + TestEnv.classSamples())
                : List.of("--module-path", TestEnv.given("jar") + File.pathSeparator + TestEnv.moduleSample(),
                        "--add-modules", "sample.mod,com.pelto.runtime"));
        if (layout.equals("open")) {
            opts.add("--add-opens=sample.mod/sample.mod.internal=com.pelto.runtime");
        }
        opts.add("-Dsample.report=" + dir.resolve("report"));
        opts.addAll(Arrays.asList(more));
        return opts;
    }

    @ParameterizedTest
    @CsvSource(delimiter = ';', value = {
            "cp; ; sample.Missing; pelto: could not find the main class sample.Missing on the class path",
            "cp; -Dpelto.isService=true; sample.Missing; pelto: could not find the main class sample.Missing",
            "cp; ; sample.NoMain; pelto: could not find the method public static void main(String[]) in sample.NoMain",
            "cp; ; sample.InstanceMain; pelto: the main method of sample.InstanceMain is not static",
            "cp; -Dsample.mode=throw; sample.EchoApp; Exception in thread \"main\" java.lang.IllegalStateException: sample failure",
            "closed; ; /sample.mod/sample.mod.internal.ModApp; "
                    + "pelto: the main class sample.mod/sample.mod.internal.ModApp is not accessible: open its package to com.pelto.runtime",
            "open; ; /sample.mod/sample.mod.internal.Nope; pelto: could not find the main class sample.mod.internal.Nope in the module sample.mod",
            "open; ; /other.mod/x.Main; pelto: could not find the module other.mod of the main class"})
    void failuresAreReportedOnStandardErrorAndEndTheJvmWithAnErrorCode(String layout, String option, String main, String message)
            throws Exception {
        List<String> opts = option == null ? options(layout) : options(layout, option);
        Result r = TestEnv.run(dir, opts, PELTO, List.of("false", main, "", "", "false", "svc"));
        assertNotEquals(0, r.exit(), r.toString());
        assertTrue(r.err().contains(message), r.err());
        assertFalse(r.err().contains("InvocationTargetException"), r.err());
        Result q = TestEnv.run(dir, opts, QUORVANEX, List.of("false", main, "", "", "false", "svc"));
        assertTrue(q.err().contains(message.replace("pelto:", "quorvanex:")), q.err());
    }

    @Test
    void anUnopenableOutputFileIsReportedAndTheApplicationStillRuns() throws Exception {
        Result r = TestEnv.run(dir, options("cp"), PELTO, List.of("false", "sample.EchoApp", dir.toString(), "", "false", "svc"));
        assertEquals(0, r.exit(), r.toString());
        assertTrue(r.err().startsWith("pelto: cannot redirect standard output to " + dir), r.err());
        assertEquals("out: hello\ntail", r.out());
    }

    @Test
    void inAServiceOnlyTheLineZeroOrTheEndOfInputStopsTheApplicationThroughItsHooks() throws Exception {
        List<String> args = List.of("false", "sample.EchoApp", "", "", "false", "svc");
        Child c = TestEnv.start(dir, options("cp", "-Dpelto.isService=true", "-Dsample.mode=wait"), PELTO, args);
        c.awaitFile(dir.resolve("report"));
        c.send("1\nstop\n\n");
        Thread.sleep(300);
        assertTrue(c.process().isAlive(), "only the line 0 stops the service");
        c.send("0\r\n");
        assertEquals(0, c.await().exit());
        assertTrue(Files.exists(dir.resolve("report.hook")), "shutdown hook ran");
        assertEquals("0", TestEnv.report(dir.resolve("report")).getProperty("stdin.available"), "the application's System.in is empty");

        Files.delete(dir.resolve("report.hook"));
        Files.delete(dir.resolve("report"));
        c = TestEnv.start(dir, options("cp", "-Dpelto.isService=true", "-Dsample.mode=wait"), PELTO, args);
        c.awaitFile(dir.resolve("report"));
        assertEquals(0, c.await().exit(), "the end of the input stops it too");
        assertTrue(Files.exists(dir.resolve("report.hook")), "shutdown hook ran");

        // Outside a service, standard input is the application's.
        c = TestEnv.start(dir, options("cp", "-Dsample.mode=short"), PELTO, args);
        c.send("0\n");
        assertEquals(0, c.await().exit());
        assertTrue(Files.exists(dir.resolve("report.done")), "the application ran to its end");
    }
}
