package sample.mod.internal;

class ModApp {
    public static void main(String[] args) throws Exception {
        sample.EchoApp.main(args);
    }
}
