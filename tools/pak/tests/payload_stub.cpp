// Stands in for the update program when the tests form a payload.
int main() { return 0; }
