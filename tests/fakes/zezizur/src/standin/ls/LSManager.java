package standin.ls;

/** Stands in for the agency's LSManager.jar: only its presence counts. */
public final class LSManager {
    private LSManager() {
    }

    public static String name() {
        return "stand-in LS manager";
    }
}
