package velk.vatclient;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Base64;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.function.Consumer;
import java.util.function.Function;

/**
 * The stand-in for the agency's VAT client behind the agent's adapter. It
 * validates by scenario and records what a filing received, so tests can
 * check the signature the agent made:
 * - every folder needs DEKLAR.TXT, POKUPKI.TXT and PRODAGBI.TXT, the client's
 *   other JARs on the class path and vatclient.dll on java.library.path;
 * - each non-blank line of STANDIN-ERRORS.TXT (UTF-8) is one more error;
 * - each line of STANDIN-STDOUT.TXT (UTF-8) is printed through System.out
 *   while validating (and so while filing), as the agency's libraries print;
 * - a filing asks for a signature over the bytes of DEKLAR.TXT, writes
 *   STANDIN-RECEIVED.TXT (signerEmail=, certificate=, iban=, data=,
 *   signature=; base64 for the bytes) and answers the lines of
 *   STANDIN-NATIVE-ERRORS.TXT as the client's own errors;
 * - without such errors it sends the files and the signature to the
 *   agency (AgencyUpload), whose refusal is one more error.
 */
public final class VatClientAdapter {
    private static final String[] FILES = {"DEKLAR.TXT", "POKUPKI.TXT", "PRODAGBI.TXT"};

    private VatClientAdapter() {
    }

    public static List<String> validate(Path folder) throws IOException {
        Path printed = folder.resolve("STANDIN-STDOUT.TXT");
        if (Files.isRegularFile(printed)) {
            for (String line : Files.readAllLines(printed, StandardCharsets.UTF_8)) {
                System.out.println(line);
            }
            System.out.flush();
        }
        List<String> errors = new ArrayList<>();
        if (!nativeLibraryPresent()) {
            errors.add("UnsatisfiedLinkError: no vatclient in java.library.path");
        }
        try {
            Class.forName("standin.signer.SignerService");
            Class.forName("standin.ls.LSManager");
        } catch (ClassNotFoundException e) {
            errors.add("NoClassDefFoundError: " + e.getMessage());
        }
        for (String name : FILES) {
            if (!Files.isRegularFile(folder.resolve(name))) {
                errors.add("Липсва файл " + name);
            }
        }
        errors.addAll(nonBlankLines(folder.resolve("STANDIN-ERRORS.TXT")));
        return errors;
    }

    public static List<String> file(Path folder, String signerEmail, String encryptionCertBase64, String iban,
            Function<byte[], byte[]> signer, Consumer<String> progress) throws IOException {
        List<String> errors = validate(folder);
        if (!errors.isEmpty()) {
            throw new IllegalStateException("Файловете не са валидни: " + errors.get(0));
        }
        progress.accept("Подписване на DEKLAR.TXT");
        byte[] data = Files.readAllBytes(folder.resolve("DEKLAR.TXT"));
        byte[] signature = signer.apply(data);
        String record = "signerEmail=" + signerEmail + "\n"
                + "certificate=" + encryptionCertBase64 + "\n"
                + "iban=" + iban + "\n"
                + "data=" + Base64.getEncoder().encodeToString(data) + "\n"
                + "signature=" + Base64.getEncoder().encodeToString(signature) + "\n";
        Files.write(folder.resolve("STANDIN-RECEIVED.TXT"), record.getBytes(StandardCharsets.UTF_8));
        progress.accept("Изпращане към НАП");
        List<String> nativeErrors = nonBlankLines(folder.resolve("STANDIN-NATIVE-ERRORS.TXT"));
        if (nativeErrors.isEmpty()) {
            Map<String, String> fields = new LinkedHashMap<>();
            fields.put("signerEmail", signerEmail);
            fields.put("certificate", encryptionCertBase64);
            fields.put("iban", iban);
            for (String name : FILES) {
                fields.put(name, Base64.getEncoder().encodeToString(Files.readAllBytes(folder.resolve(name))));
            }
            fields.put("signature", Base64.getEncoder().encodeToString(signature));
            try {
                String refusal = AgencyUpload.send(fields);
                if (refusal != null) {
                    nativeErrors.add(refusal);
                }
            } catch (java.security.GeneralSecurityException e) {
                throw new IOException("TLS към НАП: " + e, e);
            }
        }
        return nativeErrors;
    }

    private static boolean nativeLibraryPresent() {
        for (String dir : System.getProperty("java.library.path", "").split(File.pathSeparator)) {
            if (!dir.isEmpty() && Files.isRegularFile(Paths.get(dir, "vatclient.dll"))) {
                return true;
            }
        }
        return false;
    }

    private static List<String> nonBlankLines(Path path) throws IOException {
        List<String> out = new ArrayList<>();
        if (Files.isRegularFile(path)) {
            for (String line : Files.readAllLines(path, StandardCharsets.UTF_8)) {
                if (!line.isBlank()) {
                    out.add(line);
                }
            }
        }
        return out;
    }
}
