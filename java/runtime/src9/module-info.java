/**
 * The launcher's Java runtime library. The launcher names this module in --add-modules and
 * opens the application's main-class package to it, so the main class can be started even
 * when its package is not exported.
 */
module com.pelto.runtime {
    exports com.pelto.runtime;
    exports com.quorvanex.runtime.launcher;
    exports com.quorvanex.runtime.installer.platform.win32;
}
