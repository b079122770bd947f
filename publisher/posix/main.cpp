// korvel-publish for Linux: turns a release folder into what the patch server serves,
// and checks an uploaded release the way the launcher would read it.
#include "publisher/publish_command.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return korvel::run_publish_command(args, std::cout, std::cerr);
}
