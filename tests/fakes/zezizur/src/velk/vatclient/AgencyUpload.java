package velk.vatclient;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.Socket;
import java.net.URLEncoder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.security.GeneralSecurityException;
import java.security.KeyStore;
import java.security.cert.Certificate;
import java.security.cert.CertificateFactory;
import java.util.List;
import java.util.Map;
import javax.net.ssl.SNIHostName;
import javax.net.ssl.SSLContext;
import javax.net.ssl.SSLParameters;
import javax.net.ssl.SSLSocket;
import javax.net.ssl.TrustManagerFactory;

/**
 * What the stand-in client sends the agency: the filed files and the signature
 * as a form POST to the portal's host. The fake agency answers it on loopback:
 * VELK_TEST_CONNECT_TO says where the portal's port 443 is, VELK_TEST_CA_FILE
 * which CA to trust. Without a loopback portal nothing is sent.
 */
final class AgencyUpload {
    static final String HOST = "portal.nra.bg";
    static final String PATH = "/ls/vat/standin-filing";

    private AgencyUpload() {
    }

    /** Null when the agency took the filing (or there is none to send to), else its refusal. */
    static String send(Map<String, String> fields) throws IOException, GeneralSecurityException {
        String target = loopbackTarget(System.getenv("VELK_TEST_CONNECT_TO"));
        if (target == null) {
            return null;
        }
        int colon = target.lastIndexOf(':');
        String address = target.substring(0, colon);
        int port = Integer.parseInt(target.substring(colon + 1));

        StringBuilder form = new StringBuilder();
        for (Map.Entry<String, String> field : fields.entrySet()) {
            if (form.length() > 0) {
                form.append('&');
            }
            form.append(field.getKey()).append('=')
                    .append(URLEncoder.encode(field.getValue(), StandardCharsets.UTF_8));
        }
        byte[] body = form.toString().getBytes(StandardCharsets.UTF_8);

        SSLContext context = SSLContext.getInstance("TLS");
        context.init(null, trustManagers(System.getenv("VELK_TEST_CA_FILE")), null);
        try (Socket raw = new Socket(address, port);
                SSLSocket socket = (SSLSocket) context.getSocketFactory().createSocket(raw, HOST, 443, true)) {
            SSLParameters parameters = socket.getSSLParameters();
            parameters.setEndpointIdentificationAlgorithm("HTTPS");
            parameters.setServerNames(List.of(new SNIHostName(HOST)));
            socket.setSSLParameters(parameters);
            socket.startHandshake();
            OutputStream out = socket.getOutputStream();
            String head = "POST " + PATH + " HTTP/1.1\r\nHost: " + HOST + "\r\n"
                    + "Content-Type: application/x-www-form-urlencoded\r\n"
                    + "Content-Length: " + body.length + "\r\nConnection: close\r\n\r\n";
            out.write(head.getBytes(StandardCharsets.US_ASCII));
            out.write(body);
            out.flush();
            String reply = readAll(socket.getInputStream());
            int lineEnd = reply.indexOf("\r\n");
            String statusLine = lineEnd < 0 ? reply : reply.substring(0, lineEnd);
            String[] parts = statusLine.split(" ", 3);
            int status = parts.length >= 2 ? Integer.parseInt(parts[1]) : 0;
            if (status >= 200 && status <= 299) {
                return null;
            }
            int bodyStart = reply.indexOf("\r\n\r\n");
            String text = bodyStart < 0 ? "" : reply.substring(bodyStart + 4).trim();
            return "НАП отказа подаването: HTTP " + status + (text.isEmpty() ? "" : ": " + text);
        }
    }

    /** "address:port" of the portal's port 443 among "host:port:address:port" entries. */
    private static String loopbackTarget(String entries) {
        if (entries == null) {
            return null;
        }
        for (String entry : entries.split(",")) {
            String[] parts = entry.trim().split(":");
            if (parts.length == 4 && parts[0].equals(HOST) && parts[1].equals("443")) {
                return parts[2] + ":" + parts[3];
            }
        }
        return null;
    }

    private static javax.net.ssl.TrustManager[] trustManagers(String caFile)
            throws IOException, GeneralSecurityException {
        if (caFile == null || caFile.isEmpty()) {
            return null;
        }
        KeyStore store = KeyStore.getInstance(KeyStore.getDefaultType());
        store.load(null, null);
        try (InputStream in = Files.newInputStream(Paths.get(caFile))) {
            int index = 0;
            for (Certificate certificate : CertificateFactory.getInstance("X.509").generateCertificates(in)) {
                store.setCertificateEntry("ca" + index++, certificate);
            }
        }
        TrustManagerFactory factory = TrustManagerFactory.getInstance(TrustManagerFactory.getDefaultAlgorithm());
        factory.init(store);
        return factory.getTrustManagers();
    }

    private static String readAll(InputStream in) throws IOException {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        byte[] buffer = new byte[8192];
        for (int n; (n = in.read(buffer)) > 0;) {
            out.write(buffer, 0, n);
        }
        return out.toString(StandardCharsets.UTF_8);
    }
}
