package com.pelto.runtime.contract;

import static org.junit.jupiter.api.Assertions.*;
import com.pelto.runtime.WinLauncher;
import com.pelto.runtime.test.TestEnv.Child;
import com.pelto.runtime.test.TestEnv.Result;
import com.pelto.runtime.test.TestEnv;
import com.quorvanex.runtime.installer.platform.win32.Common;
import java.io.*;
import java.lang.reflect.*;
import java.nio.charset.*;
import java.nio.file.*;
import java.util.*;
import java.util.stream.*;
import org.junit.jupiter.api.*;

/**
 * Replays launches the jvm.dll double recorded (its JVM options, the calls before main, main's
 * arguments) against the real launcher classes on this JVM, with the sample application in place
 * of the recorded main class: the application must get the recorded arguments and properties, the
 * runtime library must tell it what the launcher said, its output must go where the arguments say,
 * and in a service the stop line must end it through its shutdown hook. The records come from
 * pelto.test.records (files or folders of *.jsonl, separated by the path separator).
 */
class ContractReplayTest {
    /** Launcher-computed or host-specific properties the child JVM sets for itself. */
    private static final Set<String> HOST_PROPERTIES = Set.of("java.class.path", "java.library.path",
            "sun.java.command", "java.home", "user.dir", "user.home", "java.io.tmpdir", "sun.boot.library.path",
            "jdk.module.path", "java.security.manager", "java.system.class.loader");

    @TestFactory
    Stream<DynamicTest> recordedLaunches() throws IOException {
        List<DynamicTest> tests = new ArrayList<>();
        for (String part : System.getProperty("pelto.test.records").split(File.pathSeparator)) {
            try (Stream<Path> files = Files.isDirectory(Paths.get(part)) ? Files.list(Paths.get(part)) : Stream.of(Paths.get(part))) {
                for (Path file : files.filter(f -> f.toString().endsWith(".jsonl")).sorted().collect(Collectors.toList())) {
                    List<Launch> launches = Launch.read(file);
                    for (int i = 0; i < launches.size(); i++) {
                        Launch l = launches.get(i);
                        int index = i;
                        tests.add(DynamicTest.dynamicTest(file.getFileName() + " launch " + i, () -> replay(file, index, l)));
                    }
                }
            }
        }
        assertFalse(tests.isEmpty(), "no recorded launches found");
        return tests.stream();
    }

    private static void replay(Path file, int index, Launch l) throws Exception {
        Assumptions.assumeTrue(l.mainArgs != null, "the recorded launch ended before main: nothing to replay");
        List<String> args = l.mainArgs;
        Path scratch = TestEnv.given("work").resolve("contract").resolve(file.getFileName() + "-" + index);
        try (Stream<Path> old = Files.exists(scratch) ? Files.walk(scratch) : Stream.empty()) {
            old.sorted((a, b) -> b.compareTo(a)).map(Path::toFile).forEach(File::delete);
        }
        Map<String, String> props = l.properties();
        boolean service = Boolean.parseBoolean(props.get("pelto.isService"));
        boolean redirect = !Boolean.parseBoolean(props.get("quorvanex.noRedir"));
        // The quorvanex flavour ships the library as qvxruntime.jar, module com.quorvanex.runtime.
        boolean quorvanex = Boolean.parseBoolean(props.get("pelto.isQuorvanex"));
        Path runtimeJar = TestEnv.given(quorvanex ? "qvxJar" : "jar");
        String runtimeModule = quorvanex ? "com.quorvanex.runtime" : "com.pelto.runtime";
        String testClasses = System.getProperty("pelto.test.testClasses");

        List<String> jvm = new ArrayList<>();
        String mainSpec = args.get(1);
        String appModule = mainSpec.startsWith("/") ? mainSpec.substring(1, mainSpec.indexOf('/', 1)) : null;
        String cls = mainSpec.substring(appModule == null ? 0 : appModule.length() + 2).replace('/', '.');
        Path src = scratch.resolve("src");
        List<Path> sources = new ArrayList<>(List.of(TestEnv.given("sources").resolve("samples/sample/EchoApp.java")));
        if (!cls.equals("sample.EchoApp")) {
            // A main class of the recorded name that hands over to EchoApp.
            int dot = cls.lastIndexOf('.');
            sources.add(write(src.resolve(cls.replace('.', '/') + ".java"), (dot < 0 ? "" : "package " + cls.substring(0, dot) + ";\n")
                    + "public class " + cls.substring(dot + 1) + " { public static void main(String[] a) throws Exception { sample.EchoApp.main(a); } }\n"));
        }
        if (appModule != null) {
            Assumptions.assumeTrue(cls.contains("."), "module mode needs a main class in a package");
            sources.add(write(src.resolve("module-info.java"), "module " + appModule + " { }\n"));
            Path mod = TestEnv.compile(scratch.resolve("mod").resolve(appModule), sources);
            // The options the launcher derives from the main class in module mode.
            jvm.addAll(List.of("-cp", testClasses, "--module-path", runtimeJar + File.pathSeparator + mod,
                    "--add-modules=" + appModule + "," + runtimeModule,
                    "--add-opens=" + appModule + "/" + cls.substring(0, cls.lastIndexOf('.')) + "=" + runtimeModule));
        } else {
            Path app = TestEnv.compile(scratch.resolve("app"), sources);
            jvm.addAll(List.of("-cp", runtimeJar + File.pathSeparator + testClasses + File.pathSeparator + app));
        }
        for (String o : l.options) {
            if (o.equals("-Xrs") || (o.startsWith("-D") && !HOST_PROPERTIES.contains(o.substring(2).split("=", 2)[0]))) {
                jvm.add(o);
            }
        }
        Path report = scratch.resolve("report");
        jvm.add("-Dsample.report=" + report);
        jvm.add("-Dsample.mode=" + (service ? "wait" : "return"));

        // Old content in the output file, which append keeps; the error file's folder is left for the library to create.
        Path outFile = redirect && !args.get(2).isEmpty() ? scratch.resolve(mapPath(scratch, args.get(2))) : null;
        Path errFile = redirect && !args.get(3).isEmpty() ? scratch.resolve(mapPath(scratch, args.get(3))) : null;
        if (outFile != null) {
            write(outFile, "previous\n");
        }
        Child c = TestEnv.start(scratch, jvm, Driver.class.getName(), List.of(file.toAbsolutePath().toString(), "" + index, scratch.toString()));
        if (service) {
            c.awaitFile(report);
            c.send("0\n");
        }
        Result r = c.await();
        assertEquals(0, r.exit(), r.toString());

        Properties seen = TestEnv.report(report);
        assertEquals(args.subList(Math.min(6, args.size()), args.size()), TestEnv.args(seen), "application arguments");
        for (Map.Entry<String, String> p : props.entrySet()) {
            if (p.getKey().startsWith("pelto.") || p.getKey().startsWith("quorvanex.")) {
                assertEquals(p.getValue(), seen.getProperty(p.getKey()), "property " + p.getKey());
            }
        }
        assertEquals(appModule == null ? "null" : appModule, seen.getProperty("app.module"));
        assertEquals(appModule == null ? "null" : runtimeModule, seen.getProperty("launcher.module"));
        assertEquals(args.size() > 5 ? args.get(5) : "null", seen.getProperty("getProgramName"));
        assertEquals("" + args.get(0).equalsIgnoreCase("true"), seen.getProperty("isWindowed"));
        assertEquals("" + service, seen.getProperty("isService"));
        assertEquals(!l.flags.isEmpty() + "," + (!l.flags.isEmpty() && l.flags.get(l.flags.size() - 1)), seen.getProperty("common"));
        assertEquals(l.splash == null ? "none" : l.splash.stream().map(v -> "" + v).collect(Collectors.joining(",")), seen.getProperty("splash"));
        assertTrue(!service || Files.exists(scratch.resolve("report.hook")), "the stop line ran the shutdown hook");

        String before = Boolean.parseBoolean(args.get(4)) ? "previous\n" : "";
        if (outFile != null && errFile != null && Files.isSameFile(outFile, errFile)) {
            assertEquals(before + "out: hello\nerr: hello\ntail", TestEnv.read(outFile));
        } else {
            assertEquals(outFile == null ? "" : before + "out: hello\ntail", outFile == null ? "" : TestEnv.read(outFile));
            assertEquals(errFile == null ? "" : "err: hello\n", errFile == null ? "" : TestEnv.read(errFile));
        }
        assertEquals(outFile == null, r.out().contains("out: hello"), "stdout on the console:\n" + r);
        assertEquals(errFile == null, r.err().contains("err: hello"), "stderr on the console:\n" + r);
    }

    private static Path write(Path f, String text) throws IOException {
        Files.createDirectories(f.getParent());
        return Files.write(f, text.getBytes(StandardCharsets.UTF_8));
    }

    /**
     * Where a recorded Windows path lands here: an absolute path (drive or UNC) goes under the
     * scratch folder; anything else (a "$" text the launcher could not expand, a relative name)
     * stays as the launcher passed it and lands in the working directory.
     */
    static String mapPath(Path scratch, String win) {
        if (win.matches("[A-Za-z]:[\\\\/].*")) {
            return scratch.resolve("drive_" + Character.toLowerCase(win.charAt(0))).resolve(win.substring(3).replace('\\', '/')).toString();
        }
        return win.startsWith("\\\\") ? scratch.resolve("unc").resolve(win.substring(2).replace('\\', '/')).toString() : win;
    }

    /** One launch as the double recorded it; each createJavaVM event starts one. */
    static final class Launch {
        List<String> options = List.of();
        final Map<String, String> setProperties = new LinkedHashMap<>();
        final List<Boolean> flags = new ArrayList<>();
        List<Object> splash;
        String launcherClass;
        /** Null when the recorded launch never reached main. */
        List<String> mainArgs;

        @SuppressWarnings("unchecked")
        static List<Launch> read(Path file) throws IOException {
            List<Launch> launches = new ArrayList<>();
            for (String line : Files.readAllLines(file, StandardCharsets.UTF_8)) {
                Map<String, Object> ev = line.isBlank() ? Map.of("event", "") : (Map<String, Object>) new Json(line).value();
                String kind = (String) ev.get("event");
                if (kind.equals("createJavaVM") || launches.isEmpty()) {
                    launches.add(new Launch());
                }
                Launch l = launches.get(launches.size() - 1);
                List<Object> args = (List<Object>) ev.get("args");
                switch (kind) {
                    case "createJavaVM" -> l.options = (List<String>) ev.get("options");
                    case "setProperty" -> l.setProperties.put((String) ev.get("key"), (String) ev.get("value"));
                    case "initFromLauncher" -> l.flags.add((Boolean) ev.get("flag"));
                    case "initAwtSplashConfig" -> l.splash = args;
                    case "main" -> {
                        l.mainArgs = (List<String>) (List<?>) args;
                        l.launcherClass = ((String) ev.get("class")).replace('/', '.');
                    }
                    default -> { }
                }
            }
            return launches;
        }

        /** The system properties the application sees: -D options, then setProperty calls. */
        Map<String, String> properties() {
            Map<String, String> p = new HashMap<>();
            for (String o : options) {
                int eq = o.indexOf('=');
                if (o.startsWith("-D")) {
                    p.put(o.substring(2, eq < 0 ? o.length() : eq), eq < 0 ? "" : o.substring(eq + 1));
                }
            }
            p.putAll(setProperties);
            return p;
        }
    }

    /** A JSON reader for the records: each line an object of texts, numbers, literals and lists. */
    static final class Json {
        private final String s;
        private int i;

        Json(String s) {
            this.s = s;
        }

        Object value() {
            while (" ,:".indexOf(s.charAt(i)) >= 0) {
                i++;
            }
            char c = s.charAt(i++);
            if (c == '"') {
                StringBuilder b = new StringBuilder();
                for (char d; (d = s.charAt(i++)) != '"'; b.append(d)) {
                    d = d != '\\' ? d : s.charAt(i++) != 'u' ? s.charAt(i - 1) : (char) Integer.parseInt(s.substring(i, i += 4), 16);
                }
                return b.toString();
            }
            if (c == '[' || c == '{') {
                List<Object> items = new ArrayList<>();
                while (skipTo(c == '[' ? ']' : '}')) {
                    items.add(value());
                }
                Map<String, Object> m = new HashMap<>();
                for (int k = 0; c == '{' && k < items.size(); k += 2) {
                    m.put((String) items.get(k), items.get(k + 1));
                }
                return c == '[' ? items : m;
            }
            int start = i - 1;
            while (i < s.length() && ",]} ".indexOf(s.charAt(i)) < 0) {
                i++;
            }
            String word = s.substring(start, i);
            return word.equals("null") ? null : word.matches("true|false") ? (Object) Boolean.valueOf(word) : Long.valueOf(word);
        }

        /** Skips separators; false (and past it) at the closing bracket. */
        private boolean skipTo(char close) {
            while (" ,:".indexOf(s.charAt(i)) >= 0) {
                i++;
            }
            return s.charAt(i) != close || i++ < 0;
        }
    }

    /**
     * Runs in the child JVM and makes the calls the launcher made, as recorded, then the launcher
     * class's main with the recorded arguments (absolute Windows paths of the redirection files
     * mapped under the scratch folder). Arguments: record file, launch index, scratch folder.
     */
    public static final class Driver {
        public static void main(String[] a) throws Throwable {
            Launch l = Launch.read(Paths.get(a[0])).get(Integer.parseInt(a[1]));
            l.setProperties.forEach(System::setProperty);
            l.flags.forEach(Common::initFromLauncher);
            if (l.splash != null) {
                List<Object> s = l.splash;
                WinLauncher.initAwtSplashConfig((Boolean) s.get(0), (Boolean) s.get(1), (String) s.get(2), num(s.get(3)), num(s.get(4)),
                        (String) s.get(5), num(s.get(6)), num(s.get(7)), (String) s.get(8), num(s.get(9)), num(s.get(10)),
                        (String) s.get(11), num(s.get(12)), num(s.get(13)));
            }
            List<String> args = new ArrayList<>(l.mainArgs);
            args.set(2, mapPath(Paths.get(a[2]), args.get(2)));
            args.set(3, mapPath(Paths.get(a[2]), args.get(3)));
            try {
                Class.forName(l.launcherClass).getMethod("main", String[].class).invoke(null, (Object) args.toArray(new String[0]));
            } catch (InvocationTargetException e) {
                throw e.getCause();
            }
        }

        private static int num(Object o) {
            return ((Long) o).intValue();
        }
    }
}
