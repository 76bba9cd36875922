package probe.util;

/** Lives apart from the main class so that a second class path entry is needed. */
public final class Helper {
    private Helper() {
    }

    public static String name() {
        return "found";
    }
}
