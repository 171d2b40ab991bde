#include "cli/cli.h"

int main(int argc, char** argv) { return rv::cli::Main(argc, argv); }
