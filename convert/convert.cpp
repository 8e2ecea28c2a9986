// kvconvert's dialogue and conversions. (Filled in with the data converter.)
#include "convert/convert.h"

#include "console/console.h"

namespace kv {

void RunConvertProgram() { EndRun(); }

}  // namespace kv
