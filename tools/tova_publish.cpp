// tova-publish: writes and checks update-server trees (see --help).
#include <iostream>
#include <string>
#include <vector>

#include "tools/publisher/PublisherCommandLine.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return RunPublisherCommand(arguments, std::cout, std::cerr);
}
