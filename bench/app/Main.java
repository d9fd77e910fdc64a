package bench;

/**
 * The benchmark's application: its main prints one line and returns at once; started with the
 * argument "serve" (the service case) it waits until the stop ends the JVM.
 */
public final class Main {
    private Main() {
    }

    public static void main(String[] args) throws InterruptedException {
        if (args.length > 0 && args[0].equals("serve")) {
            while (true) {
                Thread.sleep(1000);
            }
        }
        System.out.println("main");
    }
}
