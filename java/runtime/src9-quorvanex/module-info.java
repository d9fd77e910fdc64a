/**
 * The same library under the module name the quorvanex flavour of the launcher names in
 * --add-modules and --add-opens; it is shipped as .quorvanex\qvxruntime.jar.
 */
module com.quorvanex.runtime {
    exports com.pelto.runtime;
    exports com.quorvanex.runtime.launcher;
    exports com.quorvanex.runtime.installer.platform.win32;
}
