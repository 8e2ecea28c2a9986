// Entry point of kvimport.
#include "console/console.h"
#include "import/import.h"

int main() {
  return kv::RunToEnd([] { kv::RunImportProgram(); });
}
