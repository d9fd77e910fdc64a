package sample;

public class InstanceMain {
    public void main(String[] args) {
    }
}
