package com.pelto.runtime;

/**
 * Thrown out of the launcher class's {@code main} when the application cannot be started: bad
 * launcher arguments, a main class or {@code main} method that is missing or unusable. The
 * native launcher reports its {@code toString()} and ends with exit code 1.
 */
public class LaunchException extends Exception {
    private static final long serialVersionUID = 1L;

    public LaunchException(String message) {
        super(message);
    }

    public LaunchException(String message, Throwable cause) {
        super(message, cause);
    }
}
