// The product's main executable as far as the utility cares: a file with (or without) a version
// resource. The harness patches the file version words per scenario.
int main() { return 0; }
