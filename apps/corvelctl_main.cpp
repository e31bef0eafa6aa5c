// corvelctl: the command-line administration tool, for machines without a desktop.
#include <iostream>
#include <string>
#include <vector>

#include "ctl/Corvelctl.h"
#include "platform/Process.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    corvel::SystemPasswordSource passwords;
    corvel::CtlIo io{std::cout, std::cerr, passwords};
    return corvel::runCorvelctl(arguments, corvel::programDirectory(), io);
}
