#include "cli/Console.h"
#include "cli/Frame.h"

int main(int argc, char** argv) {
  using namespace orvella::cli;
  SetUpStandardStreams();
  // Before any command creates a file: an interrupt then removes what is unfinished.
  InstallInterruptCleanup();
  return RunCommandLine(CommandLineWords(argc, argv));
}
