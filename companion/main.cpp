#include <iostream>
#include <string>
#include <vector>

#include "companion/companion.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return qvm::companion::RunCompanion(args, std::cout, std::cerr);
}
