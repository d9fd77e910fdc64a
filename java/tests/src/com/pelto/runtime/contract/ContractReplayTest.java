package com.pelto.runtime.contract;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.pelto.runtime.test.TestEnv;
import com.pelto.runtime.test.TestEnv.Child;
import com.pelto.runtime.test.TestEnv.Report;
import com.pelto.runtime.test.TestEnv.Result;
import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.DynamicTest;
import org.junit.jupiter.api.TestFactory;

/**
 * Replays launches the jvm.dll double recorded (main arguments, system properties, the calls
 * before main) against the real launcher classes on this JVM, with a sample application in
 * place of the recorded main class: the application must get the recorded arguments and
 * properties, its output must go where the arguments say, and in a service the stop line must
 * end it through its shutdown hook. The records come from pelto.test.records (files or folders
 * of *.jsonl, separated by the path separator).
 */
class ContractReplayTest {
    /** Launcher-computed or host-specific properties the child JVM sets for itself. */
    private static final Set<String> HOST_PROPERTIES = Set.of("java.class.path", "java.library.path",
            "sun.java.command", "java.home", "user.dir", "user.home", "java.io.tmpdir", "sun.boot.library.path",
            "jdk.module.path", "java.security.manager", "java.system.class.loader");

    @TestFactory
    Stream<DynamicTest> recordedLaunches() throws IOException {
        List<DynamicTest> tests = new ArrayList<>();
        for (Path file : recordFiles()) {
            List<RecordedLaunch> launches = RecordedLaunch.read(file);
            for (int i = 0; i < launches.size(); i++) {
                final int index = i;
                final RecordedLaunch l = launches.get(i);
                tests.add(DynamicTest.dynamicTest(file.getFileName() + " launch " + i, () -> replay(file, index, l)));
            }
        }
        assertFalse(tests.isEmpty(), "no recorded launches found in " + System.getProperty("pelto.test.records"));
        return tests.stream();
    }

    private static List<Path> recordFiles() throws IOException {
        List<Path> files = new ArrayList<>();
        for (String part : System.getProperty("pelto.test.records", "").split(File.pathSeparator)) {
            if (part.isEmpty()) {
                continue;
            }
            Path p = Paths.get(part);
            if (Files.isDirectory(p)) {
                try (Stream<Path> s = Files.list(p)) {
                    files.addAll(s.filter(f -> f.toString().endsWith(".jsonl")).sorted().collect(Collectors.toList()));
                }
            } else {
                files.add(p);
            }
        }
        return files;
    }

    private static void replay(Path file, int index, RecordedLaunch l) throws Exception {
        Assumptions.assumeTrue(l.mainArgs != null, "the recorded launch ended before main: nothing to replay");
        List<String> args = l.mainArgs;
        Assumptions.assumeTrue(args.size() >= 5, "fewer than five launcher arguments recorded");
        Path scratch = TestEnv.work().resolve("contract").resolve(file.getFileName() + "-" + index);
        deleteTree(scratch);
        Files.createDirectories(scratch);

        Map<String, String> props = l.properties();
        boolean service = Boolean.parseBoolean(props.get("pelto.isService"));
        boolean redirect = !Boolean.parseBoolean(props.get("quorvanex.noRedir"));
        boolean append = Boolean.parseBoolean(args.get(4));

        // The quorvanex flavour ships the library as qvxruntime.jar, module com.quorvanex.runtime.
        boolean quorvanex = Boolean.parseBoolean(props.get("pelto.isQuorvanex"));
        Path runtimeJar = quorvanex ? TestEnv.quorvanexJar() : TestEnv.jar();
        String runtimeModule = quorvanex ? "com.quorvanex.runtime" : "com.pelto.runtime";

        List<String> jvm = new ArrayList<>();
        String mainSpec = args.get(1);
        String appModule = null;
        if (mainSpec.startsWith("/")) {
            int slash = mainSpec.indexOf('/', 1);
            appModule = mainSpec.substring(1, slash);
            String cls = mainSpec.substring(slash + 1).replace('/', '.');
            Assumptions.assumeTrue(cls.contains("."), "module mode needs a main class in a package");
            Path mod = scratch.resolve("mod").resolve(appModule);
            Path src = scratch.resolve("src-mod");
            write(src.resolve("module-info.java"), "module " + appModule + " { }\n");
            List<Path> sources = new ArrayList<>(Arrays.asList(src.resolve("module-info.java"),
                    TestEnv.sources().resolve("samples/sample/EchoApp.java")));
            if (!cls.equals("sample.EchoApp")) {
                sources.add(delegator(src, cls));
            }
            TestEnv.compile(mod, sources);
            // The options the launcher derives from the main class in module mode.
            jvm.addAll(Arrays.asList("-cp", System.getProperty("pelto.test.testClasses"),
                    "--module-path", runtimeJar + File.pathSeparator + mod,
                    "--add-modules=" + appModule + "," + runtimeModule,
                    "--add-opens=" + appModule + "/" + cls.substring(0, cls.lastIndexOf('.')) + "=" + runtimeModule));
        } else {
            String cls = mainSpec.replace('/', '.');
            String cp = runtimeJar + File.pathSeparator + System.getProperty("pelto.test.testClasses")
                    + File.pathSeparator + TestEnv.classSamples();
            if (!cls.equals("sample.EchoApp")) {
                Path app = scratch.resolve("app");
                TestEnv.compile(app, List.of(delegator(scratch.resolve("src"), cls)), "-cp", TestEnv.classSamples().toString());
                cp += File.pathSeparator + app;
            }
            jvm.addAll(Arrays.asList("-cp", cp));
        }
        for (String o : l.options) {
            if (o.equals("-Xrs") || (o.startsWith("-D") && !HOST_PROPERTIES.contains(o.substring(2).split("=", 2)[0]))) {
                jvm.add(o);
            }
        }
        Path report = scratch.resolve("report");
        jvm.add("-Dsample.report=" + report);
        jvm.add("-Dsample.mode=" + (service ? "wait" : "return"));

        Path outFile = redirect && !args.get(2).isEmpty() ? scratch.resolve(RecordedLaunch.mapPath(scratch, args.get(2))) : null;
        Path errFile = redirect && !args.get(3).isEmpty() ? scratch.resolve(RecordedLaunch.mapPath(scratch, args.get(3))) : null;
        for (Path f : new Path[] {outFile, errFile}) {
            if (f != null) {
                write(f, "previous\n");
            }
        }

        Child c = TestEnv.start(scratch, jvm, "com.pelto.runtime.contract.ReplayDriver",
                List.of(file.toAbsolutePath().toString(), Integer.toString(index), scratch.toString()));
        if (service) {
            c.awaitFile(report);
            c.send("0\n");
        } else {
            c.closeInput();
        }
        Result r = c.await();
        assertEquals(0, r.exit, r.toString());

        Report rep = Report.read(report);
        assertEquals(args.size() > 6 ? args.subList(6, args.size()) : List.of(), rep.args, "application arguments");
        for (Map.Entry<String, String> p : props.entrySet()) {
            if (p.getKey().startsWith("pelto.") || p.getKey().startsWith("quorvanex.")) {
                assertEquals(p.getValue(), rep.seen.get(p.getKey()), "property " + p.getKey());
            }
        }
        if (appModule != null) {
            assertEquals(appModule, rep.seen.get("app.module"));
            assertEquals(runtimeModule, rep.seen.get("launcher.module"));
        }
        if (service) {
            assertTrue(Files.exists(scratch.resolve("report.hook")), "the stop line ran the shutdown hook");
        }

        String before = append ? "previous\n" : "";
        if (outFile != null && errFile != null && Files.isSameFile(outFile, errFile)) {
            assertEquals(before + "out: hello\nerr: hello\ntail", TestEnv.read(outFile));
        } else {
            if (outFile != null) {
                assertEquals(before + "out: hello\ntail", TestEnv.read(outFile));
            }
            if (errFile != null) {
                assertEquals(before + "err: hello\n", TestEnv.read(errFile));
            }
        }
        assertEquals(outFile == null, r.out.contains("out: hello"), "stdout on the console:\n" + r);
        assertEquals(errFile == null, r.err.contains("err: hello"), "stderr on the console:\n" + r);
    }

    /** A main class of the recorded name that hands over to EchoApp. */
    private static Path delegator(Path srcRoot, String cls) throws IOException {
        int dot = cls.lastIndexOf('.');
        String pkg = dot < 0 ? "" : cls.substring(0, dot);
        String simple = cls.substring(dot + 1);
        Path f = srcRoot.resolve(cls.replace('.', '/') + ".java");
        write(f, (pkg.isEmpty() ? "" : "package " + pkg + ";\n") + "public class " + simple
                + " { public static void main(String[] a) throws Exception { sample.EchoApp.main(a); } }\n");
        return f;
    }

    private static void write(Path f, String text) throws IOException {
        Files.createDirectories(f.getParent());
        Files.write(f, text.getBytes(StandardCharsets.UTF_8));
    }

    private static void deleteTree(Path p) throws IOException {
        if (!Files.exists(p)) {
            return;
        }
        try (Stream<Path> s = Files.walk(p)) {
            for (Path q : s.sorted(Comparator.reverseOrder()).collect(Collectors.toList())) {
                Files.delete(q);
            }
        }
    }
}
