package standin.signer;

/** Stands in for the agency's SignerService.jar: only its presence counts. */
public final class SignerService {
    private SignerService() {
    }

    public static String name() {
        return "stand-in signer service";
    }
}
