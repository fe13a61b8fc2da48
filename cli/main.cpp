// upgrade-cli: the command-line front end over the same tasks and select rules as the wizard.
#include <string>
#include <vector>

#include "cli/session.h"

int main(int argc, char** argv) {
    return RunCli(std::vector<std::string>(argv + 1, argv + argc));
}
