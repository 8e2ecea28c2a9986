// Entry point of kvimport.
#include "import/import.h"

int main() { kv::RunImportProgram(); }
