package com.pelto.runtime.test;

import static org.junit.jupiter.api.Assertions.*;
import java.io.*;
import java.nio.charset.*;
import java.nio.file.*;
import java.util.*;
import java.util.concurrent.*;
import java.util.stream.*;
import javax.tools.*;

/** Paths handed in by scripts/test-java, sample compilation, child JVMs and sample reports. */
public final class TestEnv {
    private static Path classSamples;
    private static Path moduleSample;

    private TestEnv() {
    }

    /** A path scripts/test-java hands in: jar, qvxJar, work, sources, testClasses, records. */
    public static Path given(String name) {
        return Paths.get(System.getProperty("pelto.test." + name));
    }

    /** The class path samples, compiled once per test run. */
    public static synchronized Path classSamples() throws IOException {
        if (classSamples == null) {
            classSamples = compile(given("work").resolve("samples"), javaFiles(given("sources").resolve("samples")));
        }
        return classSamples;
    }

    /** The module sample.mod (EchoApp plus a main class in a package it does not export). */
    public static synchronized Path moduleSample() throws IOException {
        if (moduleSample == null) {
            List<Path> files = javaFiles(given("sources").resolve("samples-module/sample.mod"));
            files.add(given("sources").resolve("samples/sample/EchoApp.java"));
            moduleSample = compile(given("work").resolve("samples-module/sample.mod"), files);
        }
        return moduleSample;
    }

    private static List<Path> javaFiles(Path dir) throws IOException {
        try (Stream<Path> s = Files.walk(dir)) {
            return s.filter(p -> p.toString().endsWith(".java")).sorted().collect(Collectors.toList());
        }
    }

    public static Path compile(Path out, List<Path> files) throws IOException {
        List<String> args = new ArrayList<>(Arrays.asList("-encoding", "UTF-8", "-d", out.toString()));
        files.forEach(f -> args.add(f.toString()));
        assertEquals(0, ToolProvider.getSystemJavaCompiler().run(null, null, null, args.toArray(new String[0])),
                "compiling " + files);
        return out;
    }

    /** A finished child JVM: exit code and both streams (UTF-8). */
    public record Result(int exit, String out, String err) {
        @Override
        public String toString() {
            return "exit " + exit + "\n--- stdout\n" + out + "\n--- stderr\n" + err;
        }
    }

    /** A running child JVM, started in dir, whose streams go to files there. */
    public record Child(Process process, Path dir) {
        public void send(String text) throws IOException {
            process.getOutputStream().write(text.getBytes(StandardCharsets.UTF_8));
            process.getOutputStream().flush();
        }

        public Result await() throws IOException, InterruptedException {
            process.getOutputStream().close();
            if (!process.waitFor(30, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                throw new AssertionError("child JVM did not end within 30 s");
            }
            return new Result(process.exitValue(), read(dir.resolve("child.stdout")), read(dir.resolve("child.stderr")));
        }

        /** Waits until the file exists (the sample has reached its main). */
        public void awaitFile(Path file) throws InterruptedException, IOException {
            for (long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(30); !Files.exists(file); Thread.sleep(20)) {
                if (!process.isAlive() || System.nanoTime() > end) {
                    process.destroyForcibly();
                    throw new AssertionError(file + " did not appear\n" + await());
                }
            }
        }
    }

    /** Starts java JVM_OPTIONS... MAIN ARGS... in dir; stdin stays open until await. */
    public static Child start(Path dir, List<String> jvmOptions, String mainClass, List<String> args)
            throws IOException {
        Files.createDirectories(dir);
        List<String> cmd = new ArrayList<>(List.of(Paths.get(System.getProperty("java.home"), "bin", "java").toString()));
        cmd.addAll(jvmOptions);
        cmd.add(mainClass);
        cmd.addAll(args);
        ProcessBuilder pb = new ProcessBuilder(cmd).directory(dir.toFile());
        // Arguments outside ASCII survive exec only with a UTF-8 locale on both sides.
        pb.environment().put("LC_ALL", "C.UTF-8");
        pb.environment().remove("JAVA_TOOL_OPTIONS");
        pb.environment().remove("_JAVA_OPTIONS");
        pb.redirectOutput(dir.resolve("child.stdout").toFile()).redirectError(dir.resolve("child.stderr").toFile());
        return new Child(pb.start(), dir);
    }

    public static Result run(Path dir, List<String> jvmOptions, String mainClass, List<String> args)
            throws IOException, InterruptedException {
        return start(dir, jvmOptions, mainClass, args).await();
    }

    public static String read(Path file) throws IOException {
        return Files.exists(file) ? new String(Files.readAllBytes(file), StandardCharsets.UTF_8) : "";
    }

    /** What EchoApp wrote: its arguments as arg.N, and what it saw. */
    public static Properties report(Path file) throws IOException {
        Properties p = new Properties();
        try (InputStream in = Files.newInputStream(file)) {
            p.load(in);
        }
        return p;
    }

    /** The application arguments of a report. */
    public static List<String> args(Properties report) {
        List<String> args = new ArrayList<>();
        for (int i = 0; report.containsKey("arg." + i); i++) {
            args.add(report.getProperty("arg." + i));
        }
        return args;
    }
}
