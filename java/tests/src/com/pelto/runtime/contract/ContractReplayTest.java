package com.pelto.runtime.contract;

import static org.junit.jupiter.api.Assertions.*;
import com.pelto.runtime.WinLauncher;
import com.pelto.runtime.test.TestEnv;
import com.quorvanex.runtime.installer.platform.win32.Common;
import java.io.*;
import java.lang.reflect.*;
import java.nio.file.*;
import java.util.*;
import java.util.regex.*;
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
    /** A JSON text (group 1, a key when group 2 holds the colon) or literal (group 3). */
    private static final Pattern VALUE = Pattern.compile("\"((?:\\\\.|[^\"\\\\])*)\"(:?)|(-?\\d+|true|false|null)");
    private static final Pattern ESCAPE = Pattern.compile("\\\\(?:u(\\p{XDigit}{4})|(.))");

    @TestFactory
    Stream<DynamicTest> recordedLaunches() throws IOException {
        List<DynamicTest> tests = new ArrayList<>();
        for (String part : System.getProperty("pelto.test.records").split(File.pathSeparator)) {
            try (Stream<Path> files = Files.walk(Paths.get(part), 1)) {
                for (Path file : files.filter(f -> f.toString().endsWith(".jsonl")).sorted().toList()) {
                    List<Launch> launches = Launch.read(file);
                    tests.addAll(IntStream.range(0, launches.size()).mapToObj(i -> DynamicTest.dynamicTest(
                            file.getFileName() + " launch " + i, () -> replay(file, i, launches.get(i)))).toList());
                }
            }
        }
        assertFalse(tests.isEmpty(), "no recorded launches found");
        return tests.stream();
    }

    private static void replay(Path file, int index, Launch l) throws Exception {
        Assumptions.assumeTrue(l.last("main") != null, "the recorded launch ended before main: nothing to replay");
        List<String> args = l.mainArgs();
        Path scratch = TestEnv.given("work").resolve("contract").resolve(file.getFileName() + "-" + index);
        Map<String, String> props = l.properties();
        boolean service = Boolean.parseBoolean(props.get("pelto.isService"));
        boolean redirect = !Boolean.parseBoolean(props.get("quorvanex.noRedir"));
        // The quorvanex flavour ships the library as qvxruntime.jar, module com.quorvanex.runtime.
        boolean quorvanex = Boolean.parseBoolean(props.get("pelto.isQuorvanex"));
        Path runtimeJar = TestEnv.given(quorvanex ? "qvxJar" : "jar");
        String runtimeModule = quorvanex ? "com.quorvanex.runtime" : "com.pelto.runtime";
        String testClasses = System.getProperty("pelto.test.testClasses");

        String mainSpec = args.get(1);
        String appModule = mainSpec.startsWith("/") ? mainSpec.substring(1, mainSpec.indexOf('/', 1)) : null;
        String cls = mainSpec.substring(appModule == null ? 0 : appModule.length() + 2).replace('/', '.');
        int dot = cls.lastIndexOf('.');
        List<Path> sources = new ArrayList<>(List.of(TestEnv.given("sources").resolve("samples/sample/EchoApp.java")));
        // A main class of the recorded name that hands over to EchoApp.
        sources.add(write(scratch.resolve("src/" + cls.replace('.', '/') + ".java"), (dot < 0 ? "" : "package "
                + cls.substring(0, dot) + ";\n") + "public class " + cls.substring(dot + 1)
                + " { public static void main(String[] a) throws Exception { sample.EchoApp.main(a); } }\n"));
        List<String> jvm = new ArrayList<>();
        if (appModule != null) {
            Assumptions.assumeTrue(dot > 0, "module mode needs a main class in a package");
            sources.add(write(scratch.resolve("src/module-info.java"), "module " + appModule + " { }\n"));
            Path mod = TestEnv.compile(scratch.resolve("mod").resolve(appModule), sources);
            // The options the launcher derives from the main class in module mode.
            jvm.addAll(List.of("-cp", testClasses, "--module-path", runtimeJar + File.pathSeparator + mod,
                    "--add-modules=" + appModule + "," + runtimeModule,
                    "--add-opens=" + appModule + "/" + cls.substring(0, dot) + "=" + runtimeModule));
        } else {
            Path app = TestEnv.compile(scratch.resolve("app"), sources);
            jvm.addAll(List.of("-cp", runtimeJar + File.pathSeparator + testClasses + File.pathSeparator + app));
        }
        l.options().stream().filter(o -> o.equals("-Xrs")
                || (o.startsWith("-D") && !HOST_PROPERTIES.contains(o.substring(2).split("=", 2)[0]))).forEach(jvm::add);
        Path report = scratch.resolve("report");
        jvm.addAll(List.of("-Dsample.report=" + report, "-Dsample.mode=" + (service ? "wait" : "return")));

        // Old content in the output file, which append keeps; the error file's folder is left for the library to create.
        Path outFile = redirect && !args.get(2).isEmpty() ? scratch.resolve(mapPath(scratch, args.get(2))) : null;
        Path errFile = redirect && !args.get(3).isEmpty() ? scratch.resolve(mapPath(scratch, args.get(3))) : null;
        if (outFile != null) {
            write(outFile, "previous\n");
        }
        TestEnv.Child c = TestEnv.start(scratch, jvm, Driver.class.getName(), List.of(file.toAbsolutePath().toString(), "" + index, scratch.toString()));
        if (service) {
            c.awaitFile(report);
            c.send("0\n");
        }
        TestEnv.Result r = c.await();
        assertEquals(0, r.exit(), r.toString());

        Properties seen = TestEnv.report(report);
        assertEquals(args.subList(Math.min(6, args.size()), args.size()), TestEnv.args(seen), "application arguments");
        props.entrySet().stream().filter(p -> p.getKey().matches("(pelto|quorvanex)\\..*"))
                .forEach(p -> assertEquals(p.getValue(), seen.getProperty(p.getKey()), "property " + p.getKey()));
        List<Object> flag = l.last("initFromLauncher");
        List<Object> splash = l.last("initAwtSplashConfig");
        assertEquals(Arrays.asList(appModule, appModule == null ? null : runtimeModule, args.size() > 5 ? args.get(5) : null,
                args.get(0).equalsIgnoreCase("true"), service, flag != null, flag != null && (Boolean) flag.get(0),
                splash == null ? "none" : splash.stream().map(String::valueOf).collect(Collectors.joining(","))).toString(),
                Stream.of("app.module", "launcher.module", "getProgramName", "isWindowed", "isService", "isStartedByLauncher",
                        "isNativeLibraryBound", "splash").map(seen::getProperty).toList().toString(), "what the application was told");
        assertTrue(!service || Files.exists(scratch.resolve("report.hook")), "the stop line ran the shutdown hook");

        String before = Boolean.parseBoolean(args.get(4)) ? "previous\n" : "";
        boolean shared = outFile != null && errFile != null && Files.isSameFile(outFile, errFile);
        assertEquals(outFile == null ? "" : before + "out: hello\n" + (shared ? "err: hello\n" : "") + "tail", TestEnv.read(outFile));
        assertEquals(errFile == null || shared ? "" : "err: hello\n", shared ? "" : TestEnv.read(errFile));
        assertEquals(outFile == null, r.out().contains("out: hello"), "stdout on the console:\n" + r);
        assertEquals(errFile == null, r.err().contains("err: hello"), "stderr on the console:\n" + r);
    }

    private static Path write(Path f, String text) throws IOException {
        Files.createDirectories(f.getParent());
        return Files.writeString(f, text);
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

    /**
     * One launch as the double recorded it, each event as the values of its line in order (keys
     * left out, lists flattened), the event's name first. Each createJavaVM event starts one.
     */
    record Launch(List<List<Object>> events) {
        static List<Launch> read(Path file) throws IOException {
            List<Launch> launches = new ArrayList<>();
            for (String line : Files.readAllLines(file)) {
                List<Object> values = new ArrayList<>();
                for (Matcher m = VALUE.matcher(line); m.find(); ) {
                    String literal = m.group(3);
                    if (literal != null) {
                        values.add(literal.equals("null") ? null : literal.matches("true|false") ? (Object) Boolean.valueOf(literal) : Integer.valueOf(literal));
                    } else if (m.group(2).isEmpty()) {
                        values.add(ESCAPE.matcher(m.group(1)).replaceAll(e -> Matcher.quoteReplacement(
                                e.group(1) == null ? e.group(2) : "" + (char) Integer.parseInt(e.group(1), 16))));
                    }
                }
                if (!values.isEmpty() && (launches.isEmpty() || values.get(0).equals("createJavaVM"))) {
                    launches.add(new Launch(new ArrayList<>()));
                }
                if (!values.isEmpty()) {
                    launches.get(launches.size() - 1).events.add(values);
                }
            }
            return launches;
        }

        /** The values of the last event of this kind after its name; null without one. */
        List<Object> last(String kind) {
            return events.stream().filter(e -> e.get(0).equals(kind)).reduce((a, b) -> b).map(e -> e.subList(1, e.size())).orElse(null);
        }

        List<String> options() {
            List<Object> options = last("createJavaVM");
            return options == null ? List.of() : options.stream().map(String.class::cast).toList();
        }

        /** The launcher class's arguments (after its name in the main event). */
        List<String> mainArgs() {
            return last("main").stream().skip(1).map(String.class::cast).collect(Collectors.toList());
        }

        /** The system properties the application sees: -D options, then setProperty calls. */
        Map<String, String> properties() {
            Map<String, String> p = new HashMap<>();
            for (String o : options()) {
                int eq = o.indexOf('=');
                if (o.startsWith("-D")) {
                    p.put(o.substring(2, eq < 0 ? o.length() : eq), eq < 0 ? "" : o.substring(eq + 1));
                }
            }
            events.stream().filter(e -> e.get(0).equals("setProperty")).forEach(e -> p.put((String) e.get(1), (String) e.get(2)));
            return p;
        }
    }

    /**
     * Runs in the child JVM and makes the calls the launcher made, in the recorded order, then the
     * launcher class's main with the recorded arguments (absolute Windows paths of the redirection
     * files mapped under the scratch folder). Arguments: record file, launch index, scratch folder.
     */
    public static final class Driver {
        public static void main(String[] a) throws Throwable {
            Launch l = Launch.read(Paths.get(a[0])).get(Integer.parseInt(a[1]));
            Map<String, Class<?>> owners = Map.of("setProperty", System.class, "initFromLauncher", Common.class,
                    "initAwtSplashConfig", WinLauncher.class);
            for (List<Object> e : l.events()) {
                if (owners.containsKey(e.get(0))) {
                    call(owners.get(e.get(0)), (String) e.get(0), e.subList(1, e.size()).toArray());
                }
            }
            List<String> args = l.mainArgs();
            args.set(2, mapPath(Paths.get(a[2]), args.get(2)));
            args.set(3, mapPath(Paths.get(a[2]), args.get(3)));
            call(Class.forName(((String) l.last("main").get(0)).replace('/', '.')), "main", new Object[] {args.toArray(new String[0])});
        }

        private static void call(Class<?> owner, String name, Object[] args) throws Throwable {
            try {
                Arrays.stream(owner.getMethods()).filter(m -> m.getName().equals(name) && m.getParameterCount() == args.length)
                        .findFirst().orElseThrow().invoke(null, args);
            } catch (InvocationTargetException e) {
                throw e.getCause();
            }
        }
    }
}
