package sample;

import java.io.DataOutputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.Map;
import java.util.TreeMap;

/**
 * Sample application for the launcher tests. It writes what it received to the file named by
 * sample.report (arguments, launcher properties, module names), prints known lines on both
 * streams, and then returns, waits for a stop, or throws, as sample.mode says.
 */
public class EchoApp {
    public static void main(String[] args) throws Exception {
        String report = System.getProperty("sample.report");
        if (report != null) {
            Runtime.getRuntime().addShutdownHook(new Thread(() -> mark(report + ".hook")));
            writeReport(report, args);
        }
        System.out.println("out: hello");
        System.err.println("err: hello");
        System.out.print("tail");
        String mode = System.getProperty("sample.mode", "return");
        switch (mode) {
            case "wait":
                Thread.sleep(60_000);
                System.exit(3); // no stop request came
                break;
            case "short":
                Thread.sleep(1_500);
                mark(report + ".done");
                break;
            case "throw":
                throw new IllegalStateException("sample failure");
            default:
                break;
        }
    }

    private static void writeReport(String report, String[] args) throws IOException {
        Map<String, String> seen = new TreeMap<>();
        for (String key : System.getProperties().stringPropertyNames()) {
            if (key.startsWith("pelto.") || key.startsWith("quorvanex.")) {
                seen.put(key, System.getProperty(key));
            }
        }
        seen.put("app.module", String.valueOf(EchoApp.class.getModule().getName()));
        // Which module the launcher class that called us ran in ("null": the class path).
        String launcherModule = StackWalker.getInstance(StackWalker.Option.RETAIN_CLASS_REFERENCE)
                .walk(frames -> frames.map(StackWalker.StackFrame::getDeclaringClass)
                        .filter(c -> c.getName().startsWith("com.pelto.runtime."))
                        .findFirst().map(c -> String.valueOf(c.getModule().getName())).orElse("none"));
        seen.put("launcher.module", launcherModule);
        seen.put("stdin.available", String.valueOf(System.in.available()));
        String tmp = report + ".tmp";
        try (DataOutputStream out = new DataOutputStream(new FileOutputStream(tmp))) {
            out.writeInt(args.length);
            for (String a : args) {
                out.writeUTF(a);
            }
            out.writeInt(seen.size());
            for (Map.Entry<String, String> e : seen.entrySet()) {
                out.writeUTF(e.getKey());
                out.writeUTF(e.getValue());
            }
        }
        // Appears complete or not at all, so a waiting test never reads half a report.
        Files.move(Paths.get(tmp), Paths.get(report), StandardCopyOption.REPLACE_EXISTING);
    }

    private static void mark(String file) {
        try {
            Files.write(Paths.get(file), "ok".getBytes(StandardCharsets.UTF_8));
        } catch (IOException e) {
            throw new RuntimeException(e);
        }
    }
}
