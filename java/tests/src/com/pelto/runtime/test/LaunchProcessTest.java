package com.pelto.runtime.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelto.runtime.test.TestEnv.Child;
import com.pelto.runtime.test.TestEnv.Report;
import com.pelto.runtime.test.TestEnv.Result;
import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** Each scenario runs the launcher class in a child JVM with a sample application. */
class LaunchProcessTest {
    private static final String PELTO = "com.pelto.runtime.WinLauncher";
    private static final String QUORVANEX = "com.quorvanex.runtime.launcher.WinLauncher";

    @TempDir
    Path dir;

    private List<String> classPath(String... props) throws IOException {
        List<String> opts = new ArrayList<>();
        opts.add("-cp");
        opts.add(TestEnv.jar() + File.pathSeparator + TestEnv.classSamples());
        opts.add("-Dsample.report=" + report());
        opts.addAll(Arrays.asList(props));
        return opts;
    }

    private Path report() {
        return dir.resolve("report");
    }

    private static List<String> launcherArgs(String mainClass, String out, String err, String append,
            String... rest) {
        List<String> a = new ArrayList<>(Arrays.asList("false", mainClass, out, err, append));
        a.addAll(Arrays.asList(rest));
        return a;
    }

    private static String text(Path p) throws IOException {
        return TestEnv.read(p);
    }

    @Test
    void applicationGetsItsArgumentsUnchangedAndNotTheProgramName() throws Exception {
        List<String> appArgs = Arrays.asList("plain", "", "with space", "Grüße", "日本語 🚀", "quote\"d",
                "back\\slash", "-J-Xmx1m", "-Dsun.locale.formatasdefault=true", "0");
        List<String> args = launcherArgs("sample.EchoApp", "", "", "false", "C:\\apps\\Hello Service.exe");
        args.addAll(appArgs);
        Result r = TestEnv.run(dir, classPath(), PELTO, args);
        assertEquals(0, r.exit, r.toString());
        Report rep = Report.read(report());
        assertEquals(appArgs, rep.args);
        assertEquals("out: hello\ntail", r.out);
        assertEquals("err: hello\n", r.err);
        assertEquals("null", rep.seen.get("launcher.module"), "class path mode runs unnamed");
    }

    @Test
    void withoutProgramNameTheApplicationGetsNoArgumentsAndInternalNamesWork() throws Exception {
        Result r = TestEnv.run(dir, classPath(), PELTO, launcherArgs("sample/EchoApp", "", "", "false"));
        assertEquals(0, r.exit, r.toString());
        assertEquals(Collections.emptyList(), Report.read(report()).args);
    }

    @Test
    void redirectionReplacesOldContentAndCreatesTheFolder() throws Exception {
        Path out = dir.resolve("logs/out.log");
        Path err = dir.resolve("logs/err.log");
        Files.createDirectories(dir.resolve("logs"));
        Files.write(err, "old\n".getBytes(StandardCharsets.UTF_8));
        Result r = TestEnv.run(dir, classPath(), PELTO,
                launcherArgs("sample.EchoApp", dir.resolve("logs/../logs/out.log").toString(), err.toString(), "false", "svc"));
        assertEquals(0, r.exit, r.toString());
        assertEquals("out: hello\ntail", text(out), "text without a line end is flushed at exit");
        assertEquals("err: hello\n", text(err));
        assertEquals("", r.out);
        assertEquals("", r.err);

        Path fresh = dir.resolve("new/deeper/out.log");
        r = TestEnv.run(dir, classPath(), PELTO, launcherArgs("sample.EchoApp", fresh.toString(), "", "false", "svc"));
        assertEquals(0, r.exit, r.toString());
        assertEquals("out: hello\ntail", text(fresh));
        assertEquals("err: hello\n", r.err, "stderr without a file stays on the console");
    }

    @Test
    void appendKeepsOldContent() throws Exception {
        Path out = dir.resolve("out.log");
        Path err = dir.resolve("err.log");
        Files.write(out, "old out\n".getBytes(StandardCharsets.UTF_8));
        Files.write(err, "old err\n".getBytes(StandardCharsets.UTF_8));
        Result r = TestEnv.run(dir, classPath(), PELTO,
                launcherArgs("sample.EchoApp", out.toString(), err.toString(), "true", "svc"));
        assertEquals(0, r.exit, r.toString());
        assertEquals("old out\nout: hello\ntail", text(out));
        assertEquals("old err\nerr: hello\n", text(err));
    }

    @Test
    void oneFileForBothStreamsLosesNothing() throws Exception {
        Path both = dir.resolve("both.log");
        Files.write(both, "old content that must go away\n".getBytes(StandardCharsets.UTF_8));
        Result r = TestEnv.run(dir, classPath(), PELTO,
                launcherArgs("sample.EchoApp", both.toString(), dir.resolve("./both.log").toString(), "false", "svc"));
        assertEquals(0, r.exit, r.toString());
        assertEquals("out: hello\nerr: hello\ntail", text(both));
    }

    @Test
    void noRedirKeepsTheConsole() throws Exception {
        Path out = dir.resolve("out.log");
        Path err = dir.resolve("err.log");
        Result r = TestEnv.run(dir, classPath("-Dquorvanex.noRedir=true"), PELTO,
                launcherArgs("sample.EchoApp", out.toString(), err.toString(), "false", "prog"));
        assertEquals(0, r.exit, r.toString());
        assertEquals("out: hello\ntail", r.out);
        assertEquals("err: hello\n", r.err);
        assertFalse(Files.exists(out));
        assertFalse(Files.exists(err));
    }

    @Test
    void anUnopenableFileIsReportedAndTheApplicationStillRuns() throws Exception {
        Path blocked = dir.resolve("a-directory");
        Files.createDirectories(blocked);
        Result r = TestEnv.run(dir, classPath(), PELTO, launcherArgs("sample.EchoApp", blocked.toString(), "", "false", "svc"));
        assertEquals(0, r.exit, r.toString());
        assertTrue(r.err.startsWith("pelto: cannot redirect standard output to " + blocked), r.err);
        assertEquals("out: hello\ntail", r.out);
    }

    @Test
    void stopLineShutsTheServiceDownThroughItsHooks() throws Exception {
        Child c = TestEnv.start(dir, classPath("-Dpelto.isService=true", "-Dsample.mode=wait"), PELTO,
                launcherArgs("sample.EchoApp", "", "", "false", "HelloService"));
        c.awaitFile(report());
        c.send("1\nstop\n\n");
        Thread.sleep(300);
        assertTrue(c.process.isAlive(), "only the line 0 stops the service");
        c.send("0\r\n");
        Result r = c.await();
        assertEquals(0, r.exit, r.toString());
        assertTrue(Files.exists(dir.resolve("report.hook")), "shutdown hook ran");
        assertEquals("0", Report.read(report()).seen.get("stdin.available"), "the application's System.in is empty");
    }

    @Test
    void endOfInputShutsTheServiceDown() throws Exception {
        Child c = TestEnv.start(dir, classPath("-Dpelto.isService=true", "-Dsample.mode=wait"), PELTO,
                launcherArgs("sample.EchoApp", "", "", "false", "HelloService"));
        c.awaitFile(report());
        c.closeInput();
        Result r = c.await();
        assertEquals(0, r.exit, r.toString());
        assertTrue(Files.exists(dir.resolve("report.hook")), "shutdown hook ran");
    }

    @Test
    void outsideServiceModeStandardInputIsLeftAlone() throws Exception {
        Child c = TestEnv.start(dir, classPath("-Dsample.mode=short"), PELTO,
                launcherArgs("sample.EchoApp", "", "", "false", "prog"));
        c.send("0\n");
        c.closeInput();
        Result r = c.await();
        assertEquals(0, r.exit, r.toString());
        assertTrue(Files.exists(dir.resolve("report.done")), "the application ran to its end");
    }

    @Test
    void missingClassOrUnusableMainIsAClearError() throws Exception {
        String[][] cases = {
                {"sample.Missing", "pelto: could not find the main class sample.Missing on the class path"},
                {"sample.NoMain", "pelto: could not find the method public static void main(String[]) in sample.NoMain"},
                {"sample.InstanceMain", "pelto: the main method of sample.InstanceMain is not static"},
        };
        for (String[] c : cases) {
            Result r = TestEnv.run(dir.resolve(c[0]), classPath(), PELTO, launcherArgs(c[0], "", "", "false", "prog"));
            assertNotEquals(0, r.exit, r.toString());
            assertTrue(r.err.startsWith(c[1] + "\n"), r.err);
            assertTrue(r.err.contains("com.pelto.runtime.LaunchException: " + c[1].substring(7)), r.err);
        }
        // In a service whose input has already ended, the failure still ends with an error code.
        for (int i = 0; i < 3; i++) {
            Result r = TestEnv.run(dir.resolve("svc" + i), classPath("-Dpelto.isService=true"), PELTO,
                    launcherArgs("sample.Missing", "", "", "false", "svc"));
            assertNotEquals(0, r.exit, r.toString());
        }
    }

    @Test
    void badFixedArgumentsAreRejectedBeforeAnythingRuns() throws Exception {
        Path out = dir.resolve("out.log");
        List<List<String>> cases = Arrays.asList(
                Arrays.asList("false", "sample.EchoApp", "", ""),
                launcherArgs("sample.EchoApp", out.toString(), "", "yes", "prog"),
                Arrays.asList("1", "sample.EchoApp", out.toString(), "", "false"),
                launcherArgs("/sample.EchoApp", out.toString(), "", "false"),
                launcherArgs("", out.toString(), "", "false"));
        for (List<String> args : cases) {
            Result r = TestEnv.run(dir, classPath(), PELTO, args);
            assertNotEquals(0, r.exit, args + "\n" + r);
            assertTrue(r.err.startsWith("pelto: bad launcher arguments: "), args + "\n" + r.err);
            assertFalse(Files.exists(out), "nothing redirected for " + args);
            assertFalse(Files.exists(report()), "application not started for " + args);
        }
    }

    @Test
    void theApplicationsOwnExceptionComesOutUnwrapped() throws Exception {
        Result r = TestEnv.run(dir, classPath("-Dsample.mode=throw"), PELTO, launcherArgs("sample.EchoApp", "", "", "false", "prog"));
        assertNotEquals(0, r.exit, r.toString());
        assertTrue(r.err.contains("Exception in thread \"main\" java.lang.IllegalStateException: sample failure"), r.err);
        assertFalse(r.err.contains("InvocationTargetException"), r.err);
    }

    @Test
    void quorvanexLauncherClassStartsTheApplicationAlike() throws Exception {
        Result r = TestEnv.run(dir, classPath(), QUORVANEX, launcherArgs("sample.EchoApp", "", "", "false", "q.exe", "x", "ä"));
        assertEquals(0, r.exit, r.toString());
        assertEquals(Arrays.asList("x", "ä"), Report.read(report()).args);

        r = TestEnv.run(dir, classPath(), QUORVANEX, launcherArgs("sample.Missing", "", "", "false", "q.exe"));
        assertNotEquals(0, r.exit, r.toString());
        assertTrue(r.err.startsWith("quorvanex: could not find the main class sample.Missing"), r.err);
    }

    private List<String> modulePath(boolean open, String... modules) throws IOException {
        return modulePath(TestEnv.jar(), "com.pelto.runtime", open, modules);
    }

    /** The module options the launcher gives for the main class sample.mod/sample.mod.internal.ModApp. */
    private List<String> modulePath(Path jar, String runtimeModule, boolean open, String... modules) throws IOException {
        List<String> opts = new ArrayList<>(Arrays.asList(
                "--module-path", jar + File.pathSeparator + TestEnv.moduleSample(),
                "--add-modules", String.join(",", modules),
                "-Dsample.report=" + report()));
        if (open) {
            opts.add("--add-opens=sample.mod/sample.mod.internal=" + runtimeModule);
        }
        return opts;
    }

    @Test
    void moduleModeStartsAMainClassInAPackageOpenedToTheRuntime() throws Exception {
        Object[][] flavours = {
                {TestEnv.jar(), "com.pelto.runtime", PELTO},
                {TestEnv.quorvanexJar(), "com.quorvanex.runtime", QUORVANEX},
        };
        for (Object[] f : flavours) {
            Files.deleteIfExists(report());
            String runtimeModule = (String) f[1];
            Result r = TestEnv.run(dir, modulePath((Path) f[0], runtimeModule, true, "sample.mod", runtimeModule),
                    (String) f[2], launcherArgs("/sample.mod/sample.mod.internal.ModApp", "", "", "false", "svc", "a", "ü b"));
            assertEquals(0, r.exit, r.toString());
            Report rep = Report.read(report());
            assertEquals(Arrays.asList("a", "ü b"), rep.args);
            assertEquals("sample.mod", rep.seen.get("app.module"));
            assertEquals(runtimeModule, rep.seen.get("launcher.module"), "the runtime ran as its named module");
        }
    }

    @Test
    void moduleModeErrorsNameWhatIsMissing() throws Exception {
        String[][] cases = {
                {"/sample.mod/sample.mod.internal.ModApp", "false",
                        "pelto: the main class sample.mod/sample.mod.internal.ModApp is not accessible: open its package to com.pelto.runtime"},
                {"/sample.mod/sample.mod.internal.Nope", "true",
                        "pelto: could not find the main class sample.mod.internal.Nope in the module sample.mod"},
                {"/other.mod/x.Main", "true", "pelto: could not find the module other.mod of the main class"},
        };
        for (String[] c : cases) {
            Result r = TestEnv.run(dir, modulePath(Boolean.parseBoolean(c[1]), "sample.mod", "com.pelto.runtime"), PELTO,
                    launcherArgs(c[0], "", "", "false", "svc"));
            assertNotEquals(0, r.exit, r.toString());
            assertTrue(r.err.startsWith(c[2]), r.err);
        }
    }
}
