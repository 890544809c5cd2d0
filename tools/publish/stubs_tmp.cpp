namespace publish {
int explainCommand(int, char**) { return 1; }
}  // namespace publish
