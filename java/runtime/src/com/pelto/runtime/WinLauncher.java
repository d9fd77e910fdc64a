package com.pelto.runtime;

import java.lang.reflect.Method;

/**
 * The class the pelto launcher executable calls after creating the JVM. It reads the launcher's
 * fixed arguments, sets up output redirection and, in a service, the stop watcher on standard
 * input, then starts the application's main class with the application's arguments only.
 */
public final class WinLauncher {
    /**
     * The module name of pelto-runtime.jar, as the launcher names it in --add-modules;
     * qvxruntime.jar holds the same classes as the module com.quorvanex.runtime.
     */
    public static final String MODULE_NAME = "com.pelto.runtime";

    private static volatile SplashConfig splashConfig;
    private static volatile String programName;
    private static volatile boolean windowed;

    private WinLauncher() {
    }

    public static void main(String[] args) throws Exception {
        launch(args, "pelto");
    }

    /**
     * Receives the splash text settings from the launcher (both flavours call this class),
     * before {@link #main}. Kept for the application: {@link #getSplashConfig()}.
     */
    public static void initAwtSplashConfig(boolean enabled, boolean option,
            String text1, int first1, int second1,
            String text2, int first2, int second2,
            String text3, int first3, int second3,
            String text4, int first4, int second4) {
        splashConfig = new SplashConfig(enabled, option, new SplashConfig.Item[] {
                new SplashConfig.Item(text1, first1, second1),
                new SplashConfig.Item(text2, first2, second2),
                new SplashConfig.Item(text3, first3, second3),
                new SplashConfig.Item(text4, first4, second4)});
    }

    /** The splash settings the launcher passed, or null when it passed none. */
    public static SplashConfig getSplashConfig() {
        return splashConfig;
    }

    /** The program path or service name the launcher passed, or null before the launch. */
    public static String getProgramName() {
        return programName;
    }

    /** Whether the executable is a windowed (not a console) application. */
    public static boolean isWindowed() {
        return windowed;
    }

    /** Whether the JVM runs inside a service, which the launcher stops through standard input. */
    public static boolean isService() {
        return StopWatcher.isServiceMode();
    }

    /**
     * Shared by both flavours' launcher classes. Errors are printed on standard error and
     * thrown, so the launcher reports them and ends with exit code 1.
     */
    public static void launch(String[] rawArgs, String flavour) throws Exception {
        LauncherArguments args;
        Method main;
        try {
            args = LauncherArguments.parse(rawArgs);
            programName = args.programName;
            windowed = args.windowed;
            OutputRedirect.apply(args, flavour);
            main = MainInvoker.findMain(args);
        } catch (LaunchException ex) {
            throw reported(flavour, ex);
        }
        // Only now: an early end of input must not turn a failed start into exit code 0. A stop
        // line that came meanwhile waits in the pipe.
        if (StopWatcher.isServiceMode()) {
            StopWatcher.start(flavour);
        }
        MainInvoker.invoke(main, args, flavour);
    }

    static LaunchException reported(String flavour, LaunchException ex) {
        System.err.println(flavour + ": " + ex.getMessage());
        System.err.flush();
        return ex;
    }
}
