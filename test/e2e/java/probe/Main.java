package probe;

import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;

import probe.util.Helper;

/** Reports what reached the Java side: arguments, properties, module. */
public final class Main {
    private Main() {
    }

    public static void main(String[] args) {
        PrintStream out = new PrintStream(new FileOutputStream(FileDescriptor.out), true,
                StandardCharsets.UTF_8);
        out.println("helper=[" + Helper.name() + "]");
        out.println("module=[" + Main.class.getModule().getName() + "]");
        out.println("app-path=[" + System.getProperty("kovalu.app-path") + "]");
        out.println("greeting=[" + System.getProperty("greeting") + "]");
        out.println("dir=[" + System.getProperty("dir") + "]");
        for (String arg : args) {
            out.println("arg=[" + arg + "]");
        }
        out.flush();
        if (args.length > 0 && args[0].equals("flood")) {
            String line = "x".repeat(1023);
            for (int i = 0; i < 11 * 1024; ++i) {
                out.println(line);
            }
        }
        if (args.length > 0 && args[0].equals("throw")) {
            throw new IllegalStateException("probe failed on purpose");
        }
        if (args.length > 0 && args[0].startsWith("exit=")) {
            System.exit(Integer.parseInt(args[0].substring("exit=".length())));
        }
    }
}
