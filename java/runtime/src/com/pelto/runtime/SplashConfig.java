package com.pelto.runtime;

/**
 * The splash text settings the launcher hands over right after creating the JVM
 * ({@link WinLauncher#initAwtSplashConfig}). Four text items, each with two integers whose
 * meaning (position, colour, font size) is the application's to choose.
 */
public final class SplashConfig {
    /** One splash text item: its text and its two integers, in the order configured. */
    public static final class Item {
        private final String text;
        private final int first;
        private final int second;

        Item(String text, int first, int second) {
            this.text = text == null ? "" : text;
            this.first = first;
            this.second = second;
        }

        public String getText() {
            return text;
        }

        public int getFirst() {
            return first;
        }

        public int getSecond() {
            return second;
        }
    }

    private final boolean enabled;
    private final boolean option;
    private final Item[] items;

    SplashConfig(boolean enabled, boolean option, Item[] items) {
        this.enabled = enabled;
        this.option = option;
        this.items = items.clone();
    }

    public boolean isEnabled() {
        return enabled;
    }

    /** The second flag of the splash configuration. */
    public boolean getOption() {
        return option;
    }

    public int getItemCount() {
        return items.length;
    }

    /** Item 0 to 3. */
    public Item getItem(int index) {
        return items[index];
    }
}
