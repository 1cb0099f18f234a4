#include <cstdio>

#include "cli/translate.h"

int main(int argc, char** argv) {
  return vantrel::runConsoleTranslator(argc - 1, argv + 1, stdout);
}
