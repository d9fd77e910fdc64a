package com.pelto.runtime.test;

import static org.junit.jupiter.api.Assertions.*;
import java.io.*;
import java.nio.file.*;
import java.util.*;
import java.util.concurrent.*;
import java.util.stream.*;
import javax.tools.*;

/** Paths handed in by scripts/test-java, sample compilation, child JVMs and sample reports. */
public final class TestEnv {
    private TestEnv() {
    }

    /** A path scripts/test-java hands in: jar, qvxJar, work, sources, testClasses, records. */
    public static Path given(String name) {
        return Paths.get(System.getProperty("pelto.test." + name));
    }

    /**
     * The samples under this folder of java/tests with EchoApp, compiled once per test run:
     * "samples" (the class path samples) or "samples-module/sample.mod" (a module that exports nothing).
     */
    public static synchronized Path sample(String dir) throws IOException {
        Path out = given("work").resolve(dir);
        try (Stream<Path> s = Files.walk(given("sources").resolve(dir))) {
            List<Path> files = Stream.concat(s, Stream.of(given("sources").resolve("samples/sample/EchoApp.java")))
                    .filter(p -> p.toString().endsWith(".java")).distinct().toList();
            return Files.exists(out) ? out : compile(out, files);
        }
    }

    public static Path compile(Path out, List<Path> files) {
        Stream<String> args = Stream.concat(Stream.of("-encoding", "UTF-8", "-d", out.toString()), files.stream().map(Path::toString));
        assertEquals(0, ToolProvider.getSystemJavaCompiler().run(null, null, null, args.toArray(String[]::new)), "compiling " + files);
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
            process.getOutputStream().write(text.getBytes("UTF-8"));
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
    public static Child start(Path dir, List<String> jvmOptions, String mainClass, List<String> args) throws IOException {
        Files.createDirectories(dir);
        List<String> cmd = new ArrayList<>(List.of(Paths.get(System.getProperty("java.home"), "bin", "java").toString()));
        cmd.addAll(jvmOptions);
        cmd.add(mainClass);
        cmd.addAll(args);
        ProcessBuilder pb = new ProcessBuilder(cmd).directory(dir.toFile());
        // Arguments outside ASCII survive exec only with a UTF-8 locale on both sides.
        pb.environment().put("LC_ALL", "C.UTF-8");
        pb.environment().keySet().removeAll(List.of("JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"));
        pb.redirectOutput(dir.resolve("child.stdout").toFile()).redirectError(dir.resolve("child.stderr").toFile());
        return new Child(pb.start(), dir);
    }

    public static Result run(Path dir, List<String> jvmOptions, String mainClass, List<String> args) throws Exception {
        return start(dir, jvmOptions, mainClass, args).await();
    }

    /** A file's text; empty when it (or its path) does not exist. */
    public static String read(Path file) throws IOException {
        return file != null && Files.exists(file) ? Files.readString(file) : "";
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
        return IntStream.range(0, report.size()).mapToObj(i -> report.getProperty("arg." + i)).takeWhile(Objects::nonNull).toList();
    }
}
