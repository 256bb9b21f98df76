#include "Cli.h"

int main(int argc, char** argv) { return cli::Run(argc, argv); }
