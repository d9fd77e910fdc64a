package com.quorvanex.runtime.installer.platform.win32;

/**
 * Told by the quorvanex launcher whether the native support library qvxinst.dll is bound: the
 * launcher calls {@code initFromLauncher(true)} before it registers the library's natives and
 * {@code initFromLauncher(false)} when that fails. Nothing here calls native code, so the class
 * is safe to use whether or not the library is present.
 */
public final class Common {
    private static volatile boolean calledFromLauncher;
    private static volatile boolean nativeLibraryBound;

    private Common() {
    }

    public static void initFromLauncher(boolean nativeLibrary) {
        calledFromLauncher = true;
        nativeLibraryBound = nativeLibrary;
    }

    /** Whether the launcher announced its native support library (and has not withdrawn it). */
    public static boolean isNativeLibraryBound() {
        return nativeLibraryBound;
    }

    /** Whether a launcher called {@link #initFromLauncher} at all in this JVM. */
    public static boolean isStartedByLauncher() {
        return calledFromLauncher;
    }
}
