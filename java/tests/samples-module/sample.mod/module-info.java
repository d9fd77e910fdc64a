// Exports nothing: the launcher opens the main-class package to the runtime library.
module sample.mod {
}
