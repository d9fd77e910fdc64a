package com.pelto.runtime;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InputStream;

/**
 * In a service the supervising process asks for a stop by writing the line "0" to the JVM's
 * standard input and closing it. This daemon thread turns that line, or the end of the input
 * (the supervisor is gone), into System.exit(0) so that the application's shutdown hooks run.
 */
final class StopWatcher implements Runnable {
    static final String SERVICE_PROPERTY = "pelto.isService";
    static final String STOP_LINE = "0";

    private final InputStream in;

    private StopWatcher(InputStream in) {
        this.in = in;
    }

    static boolean isServiceMode() {
        return Boolean.parseBoolean(System.getProperty(SERVICE_PROPERTY));
    }

    /**
     * Starts the watcher on the process's standard input. The application gets an empty
     * System.in instead: a second reader could swallow the stop line.
     */
    static void start(String flavour) {
        InputStream stdin = System.in;
        try {
            System.setIn(new ByteArrayInputStream(new byte[0]));
        } catch (NoSuchMethodError ex) {
            // A class library without setIn (Avian): the application could read the stop line
            // itself, which it has no reason to do; the end of the input still stops it.
        }
        Thread t = new Thread(new StopWatcher(stdin), flavour + "-stop-watcher");
        t.setDaemon(true);
        t.start();
    }

    @Override
    public void run() {
        // Byte by byte, without a reader: the line is ASCII, and no charset need be supported.
        try {
            StringBuilder line = new StringBuilder();
            for (int b = in.read(); b >= 0; b = in.read()) {
                if (b != '\n') {
                    line.append((char) b);
                } else if (line.toString().trim().equals(STOP_LINE)) {
                    break;
                } else {
                    line.setLength(0);
                }
            }
        } catch (IOException ex) {
            // A broken pipe means the supervisor is gone: stop as for the end of the input.
        }
        System.exit(0);
    }
}
