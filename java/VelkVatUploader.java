import java.io.BufferedReader;
import java.io.ByteArrayInputStream;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Base64;
import java.util.List;
import java.util.function.Consumer;
import java.util.function.Function;

/**
 * The agent's main class for the agency's VAT client, run by the agent as a
 * child process:
 *
 * <pre>
 *   java ... VelkVatUploader validate
 *   java ... VelkVatUploader pipe SIGNER_EMAIL ENCRYPTION_CERT_BASE64 [IBAN]
 * </pre>
 *
 * The first line on standard input is "DIR:" and the VAT folder. In validate
 * mode every error is one line on standard output and the exit code is 0 only
 * for a valid folder. In pipe mode a signature is asked for with "SIGN:" and
 * the base64 of the data, answered on standard input by "SIGNATURE:" and the
 * base64 of a detached CMS signature; the client's own errors are
 * "NATIVE_ERROR:" lines, a general error is "ERROR:", a filing that went
 * through ends with "SUCCESS" and exit code 0. Progress goes to standard error
 * as "Прогрес: " lines. Everything is UTF-8, whatever the JDK's defaults.
 * Only this class writes to standard output and reads standard input:
 * System.out of the client's libraries goes to standard error.
 *
 * The client is reached through one adapter class on the class path,
 * velk.vatclient.VatClientAdapter, with two static methods:
 *
 * <pre>
 *   List&lt;String&gt; validate(Path folder)
 *   List&lt;String&gt; file(Path folder, String signerEmail, String encryptionCertBase64, String iban,
 *                     Function&lt;byte[], byte[]&gt; signer, Consumer&lt;String&gt; progress)
 * </pre>
 *
 * validate returns the error texts, file the client's errors; a thrown
 * exception is a general error. This file stays one top-level class without
 * nested or anonymous classes: only VelkVatUploader.class is delivered.
 */
public final class VelkVatUploader {
    private static final String ADAPTER = "velk.vatclient.VatClientAdapter";

    private static final int EXIT_OK = 0;
    private static final int EXIT_INVALID = 1;
    private static final int EXIT_FAILED = 2;
    private static final int EXIT_USAGE = 64;

    private static PrintStream out;
    private static PrintStream err;
    private static BufferedReader in;

    private VelkVatUploader() {
    }

    public static void main(String[] args) {
        out = new PrintStream(new FileOutputStream(FileDescriptor.out), true, StandardCharsets.UTF_8);
        err = new PrintStream(new FileOutputStream(FileDescriptor.err), true, StandardCharsets.UTF_8);
        in = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
        // The protocol streams are this class's alone: what the client's
        // libraries print through System.out goes to standard error, where it
        // cannot pass for a protocol line, and they read nothing of the
        // agent's answers.
        System.setOut(err);
        System.setIn(new ByteArrayInputStream(new byte[0]));
        int code;
        try {
            code = run(args);
        } catch (Throwable t) {
            out.println("ERROR:" + describe(t));
            code = EXIT_FAILED;
        }
        out.flush();
        err.flush();
        System.exit(code);
    }

    private static int run(String[] args) throws Exception {
        if (args.length == 1 && "validate".equals(args[0])) {
            return validate(readFolder());
        }
        if ((args.length == 3 || args.length == 4) && "pipe".equals(args[0])) {
            String iban = args.length == 4 ? args[3] : "";
            return file(readFolder(), args[1], args[2], iban);
        }
        err.println("usage: VelkVatUploader validate | pipe SIGNER_EMAIL ENCRYPTION_CERT_BASE64 [IBAN]");
        return EXIT_USAGE;
    }

    private static Path readFolder() throws IOException {
        String line = in.readLine();
        if (line == null || !line.startsWith("DIR:")) {
            throw new IOException("expected DIR: on standard input");
        }
        return Paths.get(line.substring(4));
    }

    private static int validate(Path folder) throws Exception {
        List<?> errors;
        try {
            errors = (List<?>) adapterMethod("validate", Path.class).invoke(null, folder);
        } catch (InvocationTargetException e) {
            out.println(describe(e.getCause()));
            return EXIT_FAILED;
        } catch (ReflectiveOperationException e) {
            out.println(describe(e));
            return EXIT_FAILED;
        }
        if (errors == null || errors.isEmpty()) {
            return EXIT_OK;
        }
        for (Object error : errors) {
            out.println(oneLine(String.valueOf(error)));
        }
        return EXIT_INVALID;
    }

    private static int file(Path folder, String signerEmail, String certificate, String iban) throws Exception {
        Function<byte[], byte[]> signer = VelkVatUploader::sign;
        Consumer<String> progress = VelkVatUploader::progress;
        List<?> nativeErrors;
        try {
            Method method = adapterMethod("file", Path.class, String.class, String.class, String.class,
                    Function.class, Consumer.class);
            nativeErrors = (List<?>) method.invoke(null, folder, signerEmail, certificate, iban, signer, progress);
        } catch (InvocationTargetException e) {
            out.println("ERROR:" + describe(e.getCause()));
            return EXIT_FAILED;
        } catch (ReflectiveOperationException e) {
            out.println("ERROR:" + describe(e));
            return EXIT_FAILED;
        }
        if (nativeErrors != null && !nativeErrors.isEmpty()) {
            for (Object error : nativeErrors) {
                out.println("NATIVE_ERROR:" + oneLine(String.valueOf(error)));
            }
            return EXIT_FAILED;
        }
        out.println("SUCCESS");
        return EXIT_OK;
    }

    private static Method adapterMethod(String name, Class<?>... parameters) throws ReflectiveOperationException {
        try {
            return Class.forName(ADAPTER).getMethod(name, parameters);
        } catch (ClassNotFoundException e) {
            throw new ClassNotFoundException("VAT client adapter " + ADAPTER + " is not on the class path", e);
        }
    }

    /** Asks the agent for a detached CMS signature of the data and waits for it. */
    private static byte[] sign(byte[] data) {
        out.println("SIGN:" + Base64.getEncoder().encodeToString(data));
        out.flush();
        String answer;
        try {
            answer = in.readLine();
        } catch (IOException e) {
            throw new IllegalStateException("no answer to a signing request: " + e.getMessage(), e);
        }
        if (answer == null || !answer.startsWith("SIGNATURE:")) {
            throw new IllegalStateException("no answer to a signing request");
        }
        String payload = answer.substring("SIGNATURE:".length()).trim();
        if (payload.isEmpty()) {
            throw new IllegalStateException("Подписването не беше извършено.");
        }
        return Base64.getDecoder().decode(payload);
    }

    private static void progress(String text) {
        err.println("Прогрес: " + oneLine(text));
        err.flush();
    }

    private static String describe(Throwable t) {
        if (t == null) {
            return "unknown error";
        }
        String message = t.getMessage();
        return oneLine(message == null || message.isEmpty() ? t.getClass().getName() : message);
    }

    private static String oneLine(String text) {
        return text.replace('\r', ' ').replace('\n', ' ');
    }
}
