// A program that calls nothing: linked with one library whole and only the
// libraries it declares, it builds only when none of that library's calls
// runs to a folder it does not declare.
int main() { return 0; }
