package com.pelto.runtime.contract;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;

/**
 * One JVM launch as the jvm.dll double recorded it, one JSON object per line. Events are told
 * apart by "event"; the ones used here:
 * <ul>
 * <li>the init arguments: "createJavaVM" / "JNI_CreateJavaVM" / "initArgs", with "options"
 *     (texts, or objects with "optionString"); each one starts a new launch;</li>
 * <li>"setProperty" with "key" (or "name") and "value", or "args": [key, value];</li>
 * <li>"initAwtSplashConfig" with "args" (the fourteen values);</li>
 * <li>"initFromLauncher" with "flag" (or "value", or "args": [flag]);</li>
 * <li>"main" with "args" and optionally "class" (internal name of the launcher class).</li>
 * </ul>
 * Other events (class and method look-ups, the generic "callStatic" that precedes each of the
 * calls above, DestroyJavaVM) are ignored.
 */
final class RecordedLaunch {
    final List<String> options = new ArrayList<>();
    final List<String[]> setProperties = new ArrayList<>();
    List<Object> splashArgs;
    final List<Boolean> initFromLauncher = new ArrayList<>();
    String launcherClass = "com.pelto.runtime.WinLauncher";
    /** Null when the recorded launch never reached main. */
    List<String> mainArgs;
    private boolean hasInitArgs;

    static List<RecordedLaunch> read(Path file) throws IOException {
        List<RecordedLaunch> launches = new ArrayList<>();
        RecordedLaunch cur = null;
        int lineNo = 0;
        for (String line : Files.readAllLines(file, StandardCharsets.UTF_8)) {
            lineNo++;
            if (line.trim().isEmpty()) {
                continue;
            }
            Object parsed = Json.parse(line);
            if (!(parsed instanceof Map)) {
                throw new IllegalArgumentException(file + ":" + lineNo + ": not a JSON object");
            }
            @SuppressWarnings("unchecked")
            Map<String, Object> ev = (Map<String, Object>) parsed;
            String kind = kind(ev);
            boolean initArgs = kind.equals("createjavavm") || kind.equals("jni_createjavavm") || kind.equals("initargs")
                    || kind.equals("javavminitargs");
            if (cur == null || (initArgs && (cur.hasInitArgs || cur.mainArgs != null))) {
                cur = new RecordedLaunch();
                launches.add(cur);
            }
            cur.add(kind, initArgs, ev, file + ":" + lineNo);
        }
        return launches;
    }

    private static String kind(Map<String, Object> ev) {
        String kind = text(ev.get("event"));
        return kind == null ? "" : kind.toLowerCase(Locale.ROOT);
    }

    private void add(String kind, boolean initArgs, Map<String, Object> ev, String where) {
        List<Object> args = list(ev.get("args"));
        if (initArgs) {
            hasInitArgs = true;
            for (Object o : list(ev.get("options"))) {
                Object t = o instanceof Map ? first((Map<?, ?>) o, "optionString", "text", "option") : o;
                options.add(String.valueOf(t));
            }
        } else if (kind.equals("setproperty")) {
            Object k = first(ev, "key", "name");
            Object v = ev.get("value");
            if (k == null && args.size() == 2) {
                k = args.get(0);
                v = args.get(1);
            }
            if (k == null) {
                throw new IllegalArgumentException(where + ": setProperty without a key");
            }
            setProperties.add(new String[] {String.valueOf(k), v == null ? null : String.valueOf(v)});
        } else if (kind.equals("initawtsplashconfig")) {
            splashArgs = args;
        } else if (kind.equals("initfromlauncher")) {
            Object f = first(ev, "flag", "value");
            if (f == null && !args.isEmpty()) {
                f = args.get(0);
            }
            initFromLauncher.add(Boolean.TRUE.equals(f) || "true".equals(f));
        } else if (kind.equals("main")) {
            mainArgs = new ArrayList<>();
            for (Object o : args) {
                mainArgs.add(String.valueOf(o));
            }
            Object cls = first(ev, "class", "className");
            if (cls != null) {
                launcherClass = String.valueOf(cls).replace('/', '.');
            }
        }
    }

    private static Object first(Map<?, ?> m, String... keys) {
        for (String k : keys) {
            if (m.get(k) != null) {
                return m.get(k);
            }
        }
        return null;
    }

    @SuppressWarnings("unchecked")
    private static List<Object> list(Object o) {
        return o instanceof List ? (List<Object>) o : Collections.emptyList();
    }

    private static String text(Object o) {
        return o instanceof String ? (String) o : null;
    }

    /** The system properties the application sees: -D options, then setProperty calls. */
    Map<String, String> properties() {
        Map<String, String> p = new LinkedHashMap<>();
        for (String o : options) {
            if (o.startsWith("-D")) {
                int eq = o.indexOf('=');
                p.put(eq < 0 ? o.substring(2) : o.substring(2, eq), eq < 0 ? "" : o.substring(eq + 1));
            }
        }
        for (String[] kv : setProperties) {
            p.put(kv[0], kv[1]);
        }
        return p;
    }

    /**
     * Where a recorded Windows path lands on this machine: an absolute path (drive or UNC)
     * goes under the scratch folder; anything else (a "$" text the launcher could not expand,
     * a relative name) is left as the launcher passed it and lands in the working directory.
     */
    static String mapPath(Path scratch, String win) {
        if (win.length() >= 3 && Character.isLetter(win.charAt(0)) && win.charAt(1) == ':'
                && (win.charAt(2) == '\\' || win.charAt(2) == '/')) {
            return scratch.resolve("drive_" + Character.toLowerCase(win.charAt(0)))
                    .resolve(win.substring(3).replace('\\', '/')).toString();
        }
        if (win.startsWith("\\\\")) {
            return scratch.resolve("unc").resolve(win.substring(2).replace('\\', '/')).toString();
        }
        return win;
    }
}
