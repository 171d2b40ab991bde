#include "app/task_table.h"
#include "cli/cli.h"

int main(int argc, char** argv) {
  rv::InstallTaskRoutines();
  return rv::cli::Main(argc, argv);
}
