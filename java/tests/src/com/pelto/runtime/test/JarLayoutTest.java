package com.pelto.runtime.test;

import static org.junit.jupiter.api.Assertions.*;
import java.io.*;
import java.lang.module.*;
import java.nio.file.*;
import java.util.*;
import java.util.jar.*;
import java.util.stream.*;
import org.junit.jupiter.params.*;
import org.junit.jupiter.params.provider.*;

class JarLayoutTest {
    @ParameterizedTest
    @CsvSource({"jar, com.pelto.runtime", "qvxJar, com.quorvanex.runtime"})
    void isAMultiReleaseJarOfJava8ClassesWithTheModuleDescriptorInItsJava9Part(String jar, String module) throws Exception {
        Path path = TestEnv.given(jar);
        try (JarFile j = new JarFile(path.toFile())) {
            assertEquals("true", j.getManifest().getMainAttributes().getValue("Multi-Release"));
            assertNotNull(j.getJarEntry("META-INF/versions/9/module-info.class"));
            assertNull(j.getJarEntry("module-info.class"), "a Java 8 class path must not see module-info");
            for (var e : Collections.list(j.entries())) {
                if (e.getName().endsWith(".class") && !e.getName().startsWith("META-INF/")) {
                    DataInputStream d = new DataInputStream(j.getInputStream(e));
                    assertEquals(52, d.readInt() == 0xCAFEBABE ? d.readInt() & 0xffff : -1, e.getName() + " must run on Java 8");
                }
            }
        }
        ModuleDescriptor d = ModuleFinder.of(path).findAll().iterator().next().descriptor();
        assertEquals(module, d.name());
        assertEquals(Set.of("com.pelto.runtime", "com.quorvanex.runtime.launcher", "com.quorvanex.runtime.installer.platform.win32"),
                d.exports().stream().map(ModuleDescriptor.Exports::source).collect(Collectors.toSet()));
        assertEquals(Set.of("java.base"), d.requires().stream().map(ModuleDescriptor.Requires::name).collect(Collectors.toSet()));
    }
}
