// Placeholder until the main window lands: the desktop program is not built yet.
#include <cstdio>

int main() {
    std::fputs("qvm-gaming: the desktop program is not implemented yet\n", stderr);
    return 1;
}
