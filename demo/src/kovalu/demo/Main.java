package kovalu.demo;

/** The demo application: shows what the launcher handed to Java. */
public final class Main {
    private Main() {
    }

    public static void main(String[] args) {
        System.out.println("Hello from the Kovalu demo!");
        System.out.println("Arguments (" + args.length + "):");
        for (int i = 0; i < args.length; i++) {
            System.out.println("  [" + i + "] " + args[i]);
        }
        System.out.println("kovalu.app-path = " + System.getProperty("kovalu.app-path"));
        System.out.println("Java " + System.getProperty("java.version") + " from "
                + System.getProperty("java.home"));
    }
}
