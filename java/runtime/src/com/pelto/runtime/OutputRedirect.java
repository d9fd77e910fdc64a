package com.pelto.runtime;

import java.io.BufferedOutputStream;
import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.PrintStream;

/**
 * Points System.out and System.err at the files the launcher names. A service has no console
 * (its supervisor drains and discards the child's output), so these files are where an
 * application's output survives.
 */
final class OutputRedirect {
    /** Set by the console run verb: output stays on the console whatever the files say. */
    static final String NO_REDIRECT_PROPERTY = "quorvanex.noRedir";

    private OutputRedirect() {
    }

    static boolean isSuppressed() {
        return Boolean.parseBoolean(System.getProperty(NO_REDIRECT_PROPERTY));
    }

    /**
     * Redirects the streams whose file is not empty. A file that cannot be opened is reported
     * on the current standard error and that stream stays where it was: losing the log is
     * better than not starting the service at all.
     */
    static void apply(LauncherArguments args, String flavour) {
        if (isSuppressed()) {
            return;
        }
        PrintStream out = null;
        File outFile = null;
        if (!args.stdoutFile.isEmpty()) {
            outFile = new File(args.stdoutFile);
            out = open(outFile, args.append, flavour, "standard output");
        }
        PrintStream err = null;
        if (!args.stderrFile.isEmpty()) {
            File errFile = new File(args.stderrFile);
            if (out != null && sameFile(outFile, errFile)) {
                // Two streams opened on one file would overwrite each other's bytes.
                err = out;
            } else {
                err = open(errFile, args.append, flavour, "standard error");
            }
        }
        if (out != null) {
            System.out.flush();
            System.setOut(out);
        }
        if (err != null) {
            System.err.flush();
            System.setErr(err);
        }
        if (out != null || err != null) {
            final PrintStream o = out;
            final PrintStream e = err;
            // Text printed without a line end sits in the buffer; flush it on exit.
            Runtime.getRuntime().addShutdownHook(new Thread(new Runnable() {
                @Override
                public void run() {
                    if (o != null) {
                        o.flush();
                    }
                    if (e != null) {
                        e.flush();
                    }
                }
            }, flavour + "-output-flush"));
        }
    }

    private static PrintStream open(File file, boolean append, String flavour, String what) {
        try {
            File parent = file.getAbsoluteFile().getParentFile();
            if (parent != null && !parent.isDirectory() && !parent.mkdirs() && !parent.isDirectory()) {
                throw new IOException("cannot create directory " + parent);
            }
            return new PrintStream(new BufferedOutputStream(new FileOutputStream(file.getPath(), append)), true);
        } catch (IOException | SecurityException ex) {
            System.err.println(flavour + ": cannot redirect " + what + " to " + file + ": "
                    + ex.getMessage() + "; it stays where it was");
            return null;
        }
    }

    private static boolean sameFile(File a, File b) {
        try {
            return a.getCanonicalFile().equals(b.getCanonicalFile());
        } catch (IOException ex) {
            return a.getAbsoluteFile().equals(b.getAbsoluteFile());
        }
    }
}
