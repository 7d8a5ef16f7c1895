#include <iostream>
#include <string>
#include <vector>

#include "cli/qvmctl.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return qvm::cli::RunQvmctl(args, std::cin, std::cout, std::cerr);
}
