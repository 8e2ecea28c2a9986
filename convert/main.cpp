// Entry point of kvconvert.
#include "console/console.h"
#include "convert/convert.h"

int main() {
  return kv::RunToEnd([] { kv::RunConvertProgram(); });
}
