#include "tools/stxc/StxcTool.h"

#include <iostream>

int main(int argc, char** argv) {
    return morvane::tools::runStxc(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                   std::cerr);
}
