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
        System.getProperties().stringPropertyNames().stream().filter(k -> k.matches("(pelto|quorvanex)\\..*"))
                .forEach(k -> seen.setProperty(k, System.getProperty(k)));
        // The runtime library's class that called main, and through it what the library says.
        Class<?> caller = StackWalker.getInstance(StackWalker.Option.RETAIN_CLASS_REFERENCE).walk(frames -> frames
                .map(StackWalker.StackFrame::getDeclaringClass).filter(c -> c.getName().startsWith("com.pelto.runtime."))
                .findFirst().orElseThrow());
        Class<?> launcher = Class.forName("com.pelto.runtime.WinLauncher", true, caller.getClassLoader());
        Class<?> common = Class.forName("com.quorvanex.runtime.installer.platform.win32.Common", true, caller.getClassLoader());
        seen.setProperty("app.module", String.valueOf(EchoApp.class.getModule().getName()));
        seen.setProperty("launcher.module", String.valueOf(caller.getModule().getName()));
        seen.setProperty("stdin.available", String.valueOf(System.in.available()));
        Map<String, Class<?>> told = Map.of("getProgramName", launcher, "isWindowed", launcher, "isService", launcher,
                "isStartedByLauncher", common, "isNativeLibraryBound", common);
        for (Map.Entry<String, Class<?>> m : told.entrySet()) {
            seen.setProperty(m.getKey(), String.valueOf(call(m.getValue(), m.getKey())));
        }
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
        String mode = System.getProperty("sample.mode", "return");
        if (mode.equals("throw")) {
            throw new IllegalStateException("sample failure");
        }
        Thread.sleep(mode.equals("wait") ? 60_000 : mode.equals("short") ? 1_500 : 0);
        mark(report + ".done");
        if (mode.equals("wait")) {
            System.exit(3); // no stop request came
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
            throw new UncheckedIOException(e);
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
