package com.pelto.runtime.contract;

import com.pelto.runtime.WinLauncher;
import com.quorvanex.runtime.installer.platform.win32.Common;
import java.lang.reflect.InvocationTargetException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;

/**
 * Runs in the child JVM and makes the calls the launcher made, as recorded: setProperty,
 * initFromLauncher, initAwtSplashConfig, then the launcher class's main with the recorded
 * arguments (absolute Windows paths of the redirection files mapped under the scratch folder).
 * Arguments: record file, launch index, scratch folder.
 */
public final class ReplayDriver {
    private ReplayDriver() {
    }

    public static void main(String[] a) throws Throwable {
        RecordedLaunch l = RecordedLaunch.read(Paths.get(a[0])).get(Integer.parseInt(a[1]));
        Path scratch = Paths.get(a[2]);
        for (String[] kv : l.setProperties) {
            System.setProperty(kv[0], kv[1]);
        }
        for (boolean flag : l.initFromLauncher) {
            Common.initFromLauncher(flag);
        }
        if (l.splashArgs != null) {
            List<Object> s = l.splashArgs;
            WinLauncher.initAwtSplashConfig(bool(s.get(0)), bool(s.get(1)),
                    str(s.get(2)), num(s.get(3)), num(s.get(4)), str(s.get(5)), num(s.get(6)), num(s.get(7)),
                    str(s.get(8)), num(s.get(9)), num(s.get(10)), str(s.get(11)), num(s.get(12)), num(s.get(13)));
        }
        List<String> args = new ArrayList<>(l.mainArgs);
        for (int i = 2; i <= 3 && i < args.size(); i++) {
            args.set(i, RecordedLaunch.mapPath(scratch, args.get(i)));
        }
        try {
            Class.forName(l.launcherClass).getMethod("main", String[].class)
                    .invoke(null, (Object) args.toArray(new String[0]));
        } catch (InvocationTargetException e) {
            throw e.getCause();
        }
    }

    private static boolean bool(Object o) {
        return Boolean.TRUE.equals(o) || "true".equals(o);
    }

    private static int num(Object o) {
        return o instanceof Number ? ((Number) o).intValue() : Integer.parseInt(String.valueOf(o));
    }

    private static String str(Object o) {
        return o == null ? null : String.valueOf(o);
    }
}
