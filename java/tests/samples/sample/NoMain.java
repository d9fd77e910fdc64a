package sample;

public class NoMain {
    public static void start(String[] args) {
    }
}
