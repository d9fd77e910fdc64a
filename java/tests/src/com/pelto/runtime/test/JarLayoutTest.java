package com.pelto.runtime.test;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quorvanex.runtime.installer.platform.win32.Common;
import java.io.DataInputStream;
import java.io.InputStream;
import java.lang.module.ModuleDescriptor;
import java.lang.module.ModuleFinder;
import java.lang.module.ModuleReference;
import java.nio.file.Path;
import java.util.Enumeration;
import java.util.Set;
import java.util.TreeSet;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

class JarLayoutTest {
    @ParameterizedTest
    @CsvSource({"pelto-runtime.jar, com.pelto.runtime", "qvxruntime.jar, com.quorvanex.runtime"})
    void isAMultiReleaseJarOfJava8ClassesWithTheModuleDescriptorInItsJava9Part(String name, String module)
            throws Exception {
        Path path = TestEnv.jar().resolveSibling(name);
        int classes = 0;
        try (JarFile jar = new JarFile(path.toFile())) {
            assertEquals("true", jar.getManifest().getMainAttributes().getValue("Multi-Release"));
            assertNotNull(jar.getJarEntry("META-INF/versions/9/module-info.class"));
            assertEquals(null, jar.getJarEntry("module-info.class"), "a Java 8 class path must not see module-info");
            for (Enumeration<JarEntry> e = jar.entries(); e.hasMoreElements();) {
                JarEntry entry = e.nextElement();
                if (!entry.getName().endsWith(".class") || entry.getName().startsWith("META-INF/")) {
                    continue;
                }
                try (InputStream in = jar.getInputStream(entry); DataInputStream d = new DataInputStream(in)) {
                    assertEquals(0xCAFEBABE, d.readInt());
                    d.readUnsignedShort();
                    assertEquals(52, d.readUnsignedShort(), entry.getName() + " must run on Java 8");
                }
                classes++;
            }
            for (String required : new String[] {"com/pelto/runtime/WinLauncher.class",
                    "com/quorvanex/runtime/launcher/WinLauncher.class",
                    "com/quorvanex/runtime/installer/platform/win32/Common.class"}) {
                assertNotNull(jar.getJarEntry(required), required);
            }
        }
        assertTrue(classes >= 3);

        ModuleReference ref = ModuleFinder.of(path).findAll().iterator().next();
        ModuleDescriptor d = ref.descriptor();
        assertEquals(module, d.name());
        assertFalse(d.isAutomatic());
        Set<String> exports = d.exports().stream().map(ModuleDescriptor.Exports::source)
                .collect(Collectors.toCollection(TreeSet::new));
        assertEquals(new TreeSet<>(Set.of("com.pelto.runtime", "com.quorvanex.runtime.launcher",
                "com.quorvanex.runtime.installer.platform.win32")), exports);
        assertEquals(Set.of("java.base"), d.requires().stream().map(ModuleDescriptor.Requires::name)
                .collect(Collectors.toSet()), "no dependencies");
    }

    @Test
    void commonRecordsWhatTheLauncherSaysAboutItsNativeLibrary() {
        assertFalse(Common.isStartedByLauncher());
        Common.initFromLauncher(true);
        assertTrue(Common.isNativeLibraryBound());
        // registerNatives failed: the launcher withdraws the library.
        Common.initFromLauncher(false);
        assertFalse(Common.isNativeLibraryBound());
        assertTrue(Common.isStartedByLauncher());
    }
}
