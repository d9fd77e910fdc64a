package realjvm;

import java.io.FileOutputStream;
import java.io.IOException;

/**
 * The application the real-JVM step scripts pack. It records each launch as the JVM double
 * does, one JSON line to the file named by -Drealjvm.record, so that the same steps check both:
 * "main" with the launch folder and the arguments, "hook" from its shutdown hook. The first
 * argument picks what it does: "exit N", "throw", "serve" (waits for the stop), else returns.
 */
public final class App {
    private App() {
    }

    public static void main(String[] args) throws Exception {
        StringBuilder line = new StringBuilder("{\"event\":\"main\",\"option\":\"-Dpelto.tempDir=");
        line.append(escaped(System.getProperty("pelto.tempDir"))).append("\",\"args\":[");
        for (int i = 0; i < args.length; i++) {
            line.append(i == 0 ? "\"" : ",\"").append(escaped(args[i])).append('"');
        }
        record(line.append("]}").toString());
        System.out.println("main reached with " + args.length + " arguments");
        String mode = args.length > 0 ? args[0] : "";
        if (mode.equals("exit")) {
            System.exit(Integer.parseInt(args[1]));
        } else if (mode.equals("throw")) {
            throw new IllegalStateException("planted by the test application");
        } else if (mode.equals("serve")) {
            Runtime.getRuntime().addShutdownHook(new Thread(new Runnable() {
                @Override
                public void run() {
                    record("{\"event\":\"hook\"}");
                }
            }));
            while (true) {
                Thread.sleep(1000);
            }
        }
    }

    private static String escaped(String text) {
        return String.valueOf(text).replace("\\", "\\\\").replace("\"", "\\\"");
    }

    private static synchronized void record(String line) {
        try {
            FileOutputStream out = new FileOutputStream(System.getProperty("realjvm.record"), true);
            out.write((line + "\n").getBytes("UTF-8"));
            out.close();
        } catch (IOException ex) {
            System.err.println("realjvm: cannot record: " + ex);
        }
    }
}
