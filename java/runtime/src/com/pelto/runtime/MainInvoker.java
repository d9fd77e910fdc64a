package com.pelto.runtime;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.Optional;

/**
 * Finds the application's main class and its {@code public static void main(String[])}, and
 * calls it. The module API is reached through reflection so the library still compiles for
 * and runs on Java 8, where only class path mode exists.
 */
final class MainInvoker {
    private MainInvoker() {
    }

    static Method findMain(LauncherArguments args) throws LaunchException {
        Class<?> cls = args.isModuleMode() ? loadFromModule(args.moduleName, args.mainClass)
                                           : loadFromClassPath(args.mainClass);
        Method main;
        try {
            main = cls.getMethod("main", String[].class);
        } catch (NoSuchMethodException ex) {
            throw new LaunchException("could not find the method public static void main(String[]) in "
                    + describe(args), ex);
        } catch (LinkageError | SecurityException ex) {
            throw new LaunchException("could not inspect the main class " + describe(args) + ": " + ex, ex);
        }
        if (!Modifier.isStatic(main.getModifiers())) {
            throw new LaunchException("the main method of " + describe(args) + " is not static");
        }
        if (main.getReturnType() != void.class) {
            throw new LaunchException("the main method of " + describe(args) + " does not return void");
        }
        try {
            // A non-public main class works with the java command too; in a module this
            // needs the package opened to us, which the launcher does with --add-opens.
            main.setAccessible(true);
        } catch (RuntimeException ex) {
            // Not opened: an exported package with a public class still works without it.
        }
        return main;
    }

    /** Calls main; the application's own exception comes out unwrapped. */
    static void invoke(Method main, LauncherArguments args, String flavour) throws Exception {
        try {
            main.invoke(null, (Object) args.applicationArgs);
        } catch (IllegalAccessException ex) {
            throw WinLauncher.reported(flavour, new LaunchException("the main class " + describe(args)
                    + " is not accessible" + (args.isModuleMode() ? ": open its package to " + runtimeModuleName() : ""), ex));
        } catch (InvocationTargetException ex) {
            Throwable cause = ex.getCause();
            if (cause instanceof Exception) {
                throw (Exception) cause;
            }
            if (cause instanceof Error) {
                throw (Error) cause;
            }
            throw ex;
        }
    }

    private static Class<?> loadFromClassPath(String name) throws LaunchException {
        try {
            return Class.forName(name, false, classPathLoader());
        } catch (ClassNotFoundException ex) {
            throw new LaunchException("could not find the main class " + name + " on the class path", ex);
        } catch (LinkageError ex) {
            throw new LaunchException("could not load the main class " + name + ": " + ex, ex);
        }
    }

    private static Class<?> loadFromModule(String moduleName, String className) throws LaunchException {
        Object module;
        Method forName;
        try {
            Class<?> layerClass = Class.forName("java.lang.ModuleLayer");
            Class<?> moduleClass = Class.forName("java.lang.Module");
            Object boot = layerClass.getMethod("boot").invoke(null);
            Optional<?> found = (Optional<?>) layerClass.getMethod("findModule", String.class)
                                        .invoke(boot, moduleName);
            module = found.isPresent() ? found.get() : null;
            forName = Class.class.getMethod("forName", moduleClass, String.class);
        } catch (ClassNotFoundException ex) {
            throw new LaunchException("the main class " + moduleName + "/" + className
                    + " is in a module, which needs Java 9 or later (this is Java "
                    + System.getProperty("java.version") + ")", ex);
        } catch (ReflectiveOperationException | RuntimeException ex) {
            throw new LaunchException("could not look up the module " + moduleName + ": " + ex, ex);
        }
        if (module == null) {
            throw new LaunchException("could not find the module " + moduleName
                    + " of the main class: it must be on the module path and in --add-modules");
        }
        Object cls;
        try {
            cls = forName.invoke(null, module, className);
        } catch (InvocationTargetException ex) {
            throw new LaunchException("could not load the main class " + moduleName + "/"
                    + className + ": " + ex.getCause(), ex.getCause());
        } catch (IllegalAccessException ex) {
            throw new LaunchException("could not load the main class " + moduleName + "/"
                    + className + ": " + ex, ex);
        }
        if (cls == null) {
            throw new LaunchException("could not find the main class " + className + " in the module " + moduleName);
        }
        return (Class<?>) cls;
    }

    /**
     * The loader of the class path: the system class loader, or this class's own where the
     * system one is only the boot loader of a small class library (Avian).
     */
    private static ClassLoader classPathLoader() {
        ClassLoader system = ClassLoader.getSystemClassLoader();
        ClassLoader own = MainInvoker.class.getClassLoader();
        return system == ClassLoader.class.getClassLoader() && own != null ? own : system;
    }

    /** The module this library runs as: the target the main-class package must be opened to. */
    static String runtimeModuleName() {
        try {
            Object module = Class.class.getMethod("getModule").invoke(MainInvoker.class);
            Object name = module.getClass().getMethod("getName").invoke(module);
            return name == null ? "ALL-UNNAMED" : (String) name;
        } catch (ReflectiveOperationException | RuntimeException ex) {
            return WinLauncher.MODULE_NAME;
        }
    }

    private static String describe(LauncherArguments args) {
        return args.isModuleMode() ? args.moduleName + "/" + args.mainClass : args.mainClass;
    }
}
