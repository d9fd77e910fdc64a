package com.quorvanex.runtime.launcher;

/**
 * The class the quorvanex flavour of the launcher calls. It starts the application exactly as
 * the pelto launcher class does; only the name in its messages differs.
 */
public final class WinLauncher {
    private WinLauncher() {
    }

    public static void main(String[] args) throws Exception {
        com.pelto.runtime.WinLauncher.launch(args, "quorvanex");
    }
}
