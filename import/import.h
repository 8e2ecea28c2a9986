// kvimport: builds and extends the sieved list files from an ascending list of numbers.
#pragma once

namespace kv {

// One whole run of kvimport; ends the process.
[[noreturn]] void RunImportProgram();

}  // namespace kv
