package com.pelto.runtime;


/**
 * The launcher class's arguments, read by position: windowed flag, main class ("/module/class"
 * in module mode), standard output file, standard error file, append flag, then the program or
 * service name and the application's arguments.
 */
final class LauncherArguments {
    static final int FIXED_COUNT = 5;

    final boolean windowed;
    /** Module of the main class, or null when the main class is on the class path. */
    final String moduleName;
    final String mainClass;
    /** Empty when standard output stays where it is. */
    final String stdoutFile;
    final String stderrFile;
    final boolean append;
    /** The program path or service name; null when the launcher passed none. */
    final String programName;
    final String[] applicationArgs;

    private LauncherArguments(boolean windowed, String moduleName, String mainClass,
            String stdoutFile, String stderrFile, boolean append, String programName,
            String[] applicationArgs) {
        this.windowed = windowed;
        this.moduleName = moduleName;
        this.mainClass = mainClass;
        this.stdoutFile = stdoutFile;
        this.stderrFile = stderrFile;
        this.append = append;
        this.programName = programName;
        this.applicationArgs = applicationArgs;
    }

    boolean isModuleMode() {
        return moduleName != null;
    }

    static LauncherArguments parse(String[] args) throws LaunchException {
        if (args == null || args.length < FIXED_COUNT) {
            throw new LaunchException("bad launcher arguments: expected at least " + FIXED_COUNT
                    + " (windowed flag, main class, stdout file, stderr file, append flag), got "
                    + (args == null ? 0 : args.length));
        }
        for (int i = 0; i < FIXED_COUNT; i++) {
            if (args[i] == null) {
                throw new LaunchException("bad launcher arguments: argument " + (i + 1) + " is null");
            }
        }
        boolean windowed = parseFlag(args[0], "windowed flag (argument 1)");
        boolean append = parseFlag(args[4], "append flag (argument 5)");

        String main = args[1].trim();
        String module = null;
        if (main.startsWith("/")) {
            String rest = main.substring(1);
            int slash = rest.indexOf('/');
            if (slash <= 0 || slash == rest.length() - 1) {
                throw new LaunchException("bad launcher arguments: main class \"" + args[1]
                        + "\" must read /module/class in module mode");
            }
            module = rest.substring(0, slash);
            main = rest.substring(slash + 1);
        }
        // Internal names (com/example/Main) are accepted as the java command accepts them.
        main = main.replace('/', '.');
        if (main.isEmpty() || main.startsWith(".") || main.endsWith(".") || main.contains("..")) {
            throw new LaunchException(
                    "bad launcher arguments: \"" + args[1] + "\" is not a main class name");
        }

        String program = args.length > FIXED_COUNT ? args[FIXED_COUNT] : null;
        // arraycopy rather than copyOfRange: small class libraries (Avian) lack the latter.
        String[] appArgs = new String[Math.max(0, args.length - FIXED_COUNT - 1)];
        System.arraycopy(args, args.length - appArgs.length, appArgs, 0, appArgs.length);
        for (int i = 0; i < appArgs.length; i++) {
            if (appArgs[i] == null) {
                throw new LaunchException(
                        "bad launcher arguments: application argument " + (i + 1) + " is null");
            }
        }
        return new LauncherArguments(windowed, module, main, args[2], args[3], append, program,
                appArgs);
    }

    private static boolean parseFlag(String text, String what) throws LaunchException {
        if (text.equalsIgnoreCase("true")) {
            return true;
        }
        if (text.equalsIgnoreCase("false")) {
            return false;
        }
        throw new LaunchException(
                "bad launcher arguments: " + what + " is \"" + text + "\", not true or false");
    }
}
