// The entry point of a layering check: the program is linked, never run.
int main() { return 0; }
