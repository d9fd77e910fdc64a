package sample;

import java.io.*;
import java.lang.reflect.*;
import java.nio.file.*;
import java.util.*;

/**
 * Sample application for the launcher tests. It writes what it received to the file named by
 * sample.report (arguments, launcher properties, module names, what the runtime library tells an
 * application), prints known lines on both streams, and then returns, waits for a stop, or throws,
 * as sample.mode says.
 */
public class EchoApp {
    public static void main(String[] args) throws Exception {
        String report = System.getProperty("sample.report");
        Runtime.getRuntime().addShutdownHook(new Thread(() -> mark(report + ".hook")));
        Properties seen = new Properties();
        for (int i = 0; i < args.length; i++) {
            seen.setProperty("arg." + i, args[i]);
        }
        for (String key : System.getProperties().stringPropertyNames()) {
            if (key.startsWith("pelto.") || key.startsWith("quorvanex.")) {
                seen.setProperty(key, System.getProperty(key));
            }
        }
        // The runtime library's class that called main, and through it what the library says.
        Class<?> caller = StackWalker.getInstance(StackWalker.Option.RETAIN_CLASS_REFERENCE).walk(frames -> frames
                .map(StackWalker.StackFrame::getDeclaringClass).filter(c -> c.getName().startsWith("com.pelto.runtime."))
                .findFirst().orElseThrow());
        Class<?> launcher = Class.forName("com.pelto.runtime.WinLauncher", true, caller.getClassLoader());
        Class<?> common = Class.forName("com.quorvanex.runtime.installer.platform.win32.Common", true, caller.getClassLoader());
        seen.setProperty("app.module", String.valueOf(EchoApp.class.getModule().getName()));
        seen.setProperty("launcher.module", String.valueOf(caller.getModule().getName()));
        seen.setProperty("stdin.available", String.valueOf(System.in.available()));
        for (String m : new String[] {"getProgramName", "isWindowed", "isService"}) {
            seen.setProperty(m, String.valueOf(call(launcher, m)));
        }
        seen.setProperty("common", call(common, "isStartedByLauncher") + "," + call(common, "isNativeLibraryBound"));
        Object splash = call(launcher, "getSplashConfig");
        String s = splash == null ? "none" : call(splash, "isEnabled") + "," + call(splash, "getOption");
        for (int i = 0; splash != null && i < 4; i++) {
            Object item = splash.getClass().getMethod("getItem", int.class).invoke(splash, i);
            s += "," + call(item, "getText") + "," + call(item, "getFirst") + "," + call(item, "getSecond");
        }
        seen.setProperty("splash", s);
        try (OutputStream out = new FileOutputStream(report + ".tmp")) {
            seen.store(out, null);
        }
        // Appears complete or not at all, so a waiting test never reads half a report.
        Files.move(Paths.get(report + ".tmp"), Paths.get(report), StandardCopyOption.REPLACE_EXISTING);
        System.out.println("out: hello");
        System.err.println("err: hello");
        System.out.print("tail");
        switch (System.getProperty("sample.mode", "return")) {
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

    /** A method without parameters, of the object or (given a class) a static one. */
    private static Object call(Object self, String name) throws Exception {
        Method m = (self instanceof Class ? (Class<?>) self : self.getClass()).getMethod(name);
        return m.invoke(self instanceof Class ? null : self);
    }

    private static void mark(String file) {
        try {
            Files.write(Paths.get(file), new byte[0]);
        } catch (IOException e) {
            throw new RuntimeException(e);
        }
    }
}

class NoMain {
    public static void start(String[] args) {
    }
}

class InstanceMain {
    public void main(String[] args) {
    }
}
