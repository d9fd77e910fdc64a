package com.pelto.runtime.test;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.DataInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import javax.tools.JavaCompiler;
import javax.tools.ToolProvider;

/** Paths handed in by scripts/test-java, sample compilation, child JVMs and sample reports. */
public final class TestEnv {
    private TestEnv() {
    }

    public static Path jar() {
        return Paths.get(required("pelto.test.jar"));
    }

    /** The same library as the module com.quorvanex.runtime. */
    public static Path quorvanexJar() {
        return Paths.get(required("pelto.test.qvxJar"));
    }

    public static Path work() {
        return Paths.get(required("pelto.test.work"));
    }

    public static Path sources() {
        return Paths.get(required("pelto.test.sources"));
    }

    private static String required(String key) {
        String v = System.getProperty(key);
        if (v == null) {
            throw new IllegalStateException("system property " + key + " not set (run scripts/test-java)");
        }
        return v;
    }

    private static Path classSamples;
    private static Path moduleSample;

    /** The class path samples, compiled once per test run. */
    public static synchronized Path classSamples() throws IOException {
        if (classSamples == null) {
            Path out = work().resolve("samples");
            compile(out, javaFiles(sources().resolve("samples")));
            classSamples = out;
        }
        return classSamples;
    }

    /** The module sample.mod (EchoApp plus a main class in a package it does not export). */
    public static synchronized Path moduleSample() throws IOException {
        if (moduleSample == null) {
            Path out = work().resolve("samples-module/sample.mod");
            List<Path> files = javaFiles(sources().resolve("samples-module/sample.mod"));
            files.add(sources().resolve("samples/sample/EchoApp.java"));
            compile(out, files);
            moduleSample = out;
        }
        return moduleSample;
    }

    public static List<Path> javaFiles(Path dir) throws IOException {
        try (Stream<Path> s = Files.walk(dir)) {
            return s.filter(p -> p.toString().endsWith(".java")).sorted().collect(Collectors.toList());
        }
    }

    public static void compile(Path out, List<Path> files, String... extra) throws IOException {
        Files.createDirectories(out);
        JavaCompiler javac = ToolProvider.getSystemJavaCompiler();
        List<String> args = new ArrayList<>(Arrays.asList("-encoding", "UTF-8", "-d", out.toString()));
        args.addAll(Arrays.asList(extra));
        for (Path f : files) {
            args.add(f.toString());
        }
        int rc = javac.run(null, null, null, args.toArray(new String[0]));
        assertEquals(0, rc, "compiling " + files);
    }

    /** A finished child JVM: exit code and both streams (UTF-8). */
    public static final class Result {
        public final int exit;
        public final String out;
        public final String err;

        Result(int exit, String out, String err) {
            this.exit = exit;
            this.out = out;
            this.err = err;
        }

        @Override
        public String toString() {
            return "exit " + exit + "\n--- stdout\n" + out + "\n--- stderr\n" + err;
        }
    }

    /** A running child JVM whose streams go to files in its directory. */
    public static final class Child {
        public final Process process;
        private final Path outFile;
        private final Path errFile;

        Child(Process process, Path outFile, Path errFile) {
            this.process = process;
            this.outFile = outFile;
            this.errFile = errFile;
        }

        public void send(String text) throws IOException {
            process.getOutputStream().write(text.getBytes(StandardCharsets.UTF_8));
            process.getOutputStream().flush();
        }

        public void closeInput() throws IOException {
            process.getOutputStream().close();
        }

        public Result await() throws IOException, InterruptedException {
            if (!process.waitFor(30, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                process.waitFor(10, TimeUnit.SECONDS);
                throw new AssertionError("child JVM did not end within 30 s\n" + read(outFile) + "\n" + read(errFile));
            }
            return new Result(process.exitValue(), read(outFile), read(errFile));
        }

        /** Waits until the file exists (the sample has reached its main). */
        public void awaitFile(Path file) throws InterruptedException, IOException {
            long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(30);
            while (!Files.exists(file)) {
                if (!process.isAlive()) {
                    throw new AssertionError("child ended before " + file + " appeared\n" + read(outFile) + "\n" + read(errFile));
                }
                if (System.nanoTime() > end) {
                    process.destroyForcibly();
                    throw new AssertionError(file + " did not appear within 30 s");
                }
                Thread.sleep(20);
            }
        }
    }

    /** Starts java JVM_OPTIONS... MAIN ARGS... in dir; stdin stays open until closed. */
    public static Child start(Path dir, List<String> jvmOptions, String mainClass, List<String> args)
            throws IOException {
        Files.createDirectories(dir);
        List<String> cmd = new ArrayList<>();
        cmd.add(Paths.get(System.getProperty("java.home"), "bin", "java").toString());
        cmd.addAll(jvmOptions);
        cmd.add(mainClass);
        cmd.addAll(args);
        ProcessBuilder pb = new ProcessBuilder(cmd).directory(dir.toFile());
        // Arguments outside ASCII survive exec only with a UTF-8 locale on both sides.
        pb.environment().put("LC_ALL", "C.UTF-8");
        pb.environment().remove("JAVA_TOOL_OPTIONS");
        pb.environment().remove("_JAVA_OPTIONS");
        Path out = dir.resolve("child.stdout");
        Path err = dir.resolve("child.stderr");
        pb.redirectOutput(out.toFile()).redirectError(err.toFile());
        return new Child(pb.start(), out, err);
    }

    public static Result run(Path dir, List<String> jvmOptions, String mainClass, List<String> args)
            throws IOException, InterruptedException {
        Child c = start(dir, jvmOptions, mainClass, args);
        c.closeInput();
        return c.await();
    }

    public static String read(Path file) throws IOException {
        return Files.exists(file) ? new String(Files.readAllBytes(file), StandardCharsets.UTF_8) : "";
    }

    /** What EchoApp wrote: its arguments and the properties and module names it saw. */
    public static final class Report {
        public final List<String> args = new ArrayList<>();
        public final Map<String, String> seen = new LinkedHashMap<>();

        public static Report read(Path file) throws IOException {
            Report r = new Report();
            try (InputStream in = Files.newInputStream(file); DataInputStream d = new DataInputStream(in)) {
                int n = d.readInt();
                for (int i = 0; i < n; i++) {
                    r.args.add(d.readUTF());
                }
                int m = d.readInt();
                for (int i = 0; i < m; i++) {
                    r.seen.put(d.readUTF(), d.readUTF());
                }
            }
            return r;
        }
    }
}
