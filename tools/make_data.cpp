// STUB: replaced by the data generator.
int main() { return 0; }
