package com.pelto.runtime.test;

import static org.junit.jupiter.api.Assertions.*;
import java.io.*;
import java.nio.file.*;
import java.util.*;
import org.junit.jupiter.api.*;
import org.junit.jupiter.api.io.*;
import org.junit.jupiter.params.*;
import org.junit.jupiter.params.provider.*;

/**
 * The launcher class in a child JVM with the sample application, where the recorded launches of
 * the contract replay do not reach: failures, and the stop watcher's input.
 */
class LaunchProcessTest {
    private static final String PELTO = "com.pelto.runtime.WinLauncher";
    private static final List<String> ARGS = List.of("false", "sample.EchoApp", "", "", "false", "svc");

    @TempDir
    Path dir;

    /** JVM options: the class path samples ("cp"), or sample.mod on the module path with its package open or not. */
    private List<String> options(String layout, String... more) throws Exception {
        List<String> opts = new ArrayList<>(layout.equals("cp")
                ? List.of("-cp", TestEnv.given("jar") + File.pathSeparator + TestEnv.sample("samples"))
                : List.of("--module-path", TestEnv.given("jar") + File.pathSeparator + TestEnv.sample("samples-module/sample.mod"),
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
            "cp; -Dx; sample.Missing; pelto: could not find the main class sample.Missing on the class path",
            "cp; -Dpelto.isService=true; sample.Missing; pelto: could not find the main class sample.Missing",
            "cp; -Dx; sample.NoMain; pelto: could not find the method public static void main(String[]) in sample.NoMain",
            "cp; -Dx; sample.InstanceMain; pelto: the main method of sample.InstanceMain is not static",
            "cp; -Dsample.mode=throw; sample.EchoApp; Exception in thread \"main\" java.lang.IllegalStateException: sample failure",
            "closed; -Dx; /sample.mod/sample.mod.internal.ModApp; "
                    + "pelto: the main class sample.mod/sample.mod.internal.ModApp is not accessible: open its package to com.pelto.runtime",
            "open; -Dx; /sample.mod/sample.mod.internal.Nope; pelto: could not find the main class sample.mod.internal.Nope in the module sample.mod",
            "open; -Dx; /other.mod/x.Main; pelto: could not find the module other.mod of the main class"})
    void failuresAreReportedOnStandardErrorAndEndTheJvmWithAnErrorCode(String layout, String option, String main, String message)
            throws Exception {
        List<String> args = List.of("false", main, "", "", "false", "svc");
        TestEnv.Result r = TestEnv.run(dir, options(layout, option), PELTO, args);
        assertNotEquals(0, r.exit(), r.toString());
        assertTrue(r.err().contains(message), r.err());
        assertFalse(r.err().contains("InvocationTargetException"), r.err());
        TestEnv.Result q = TestEnv.run(dir, options(layout, option), "com.quorvanex.runtime.launcher.WinLauncher", args);
        assertTrue(q.err().contains(message.replace("pelto:", "quorvanex:")), q.err());
    }

    @Test
    void anUnopenableOutputFileIsReportedAndTheApplicationStillRuns() throws Exception {
        TestEnv.Result r = TestEnv.run(dir, options("cp"), PELTO, List.of("false", "sample.EchoApp", dir.toString(), "", "false", "svc"));
        assertEquals(0, r.exit(), r.toString());
        assertTrue(r.err().startsWith("pelto: cannot redirect standard output to " + dir), r.err());
        assertEquals("out: hello\ntail", r.out());
    }

    /** Rows: in a service?; input that must not stop it; the input that stops it (before the end of the input). */
    @ParameterizedTest
    @ValueSource(strings = {"true;1\nstop\n\n;0\r\n", "true;;", "false;0\n;"})
    void inAServiceOnlyTheLineZeroOrTheEndOfInputStopsTheApplicationThroughItsHooks(String row) throws Exception {
        boolean service = row.startsWith("true");
        String ignored = row.split(";", -1)[1], stop = row.split(";", -1)[2];
        TestEnv.Child c = TestEnv.start(dir, options("cp", "-Dpelto.isService=" + service, "-Dsample.mode=" + (service ? "wait" : "short")), PELTO, ARGS);
        c.awaitFile(dir.resolve("report"));
        c.send(ignored);
        Thread.sleep(300);
        assertTrue(c.process().isAlive(), "the input before the stop line left it running");
        c.send(stop);
        assertEquals(0, c.await().exit());
        assertEquals(service, Files.exists(dir.resolve("report.hook")) && !Files.exists(dir.resolve("report.done")), "stopped through its hooks");
        assertEquals("0", TestEnv.report(dir.resolve("report")).getProperty("stdin.available"), "the application's System.in is empty");
    }
}
