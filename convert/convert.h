// kvconvert: carries the number table files between the 64-bit and the 32-bit build.
#pragma once

namespace kv {

// One whole run of kvconvert; ends the process.
[[noreturn]] void RunConvertProgram();

}  // namespace kv
