// Entry point of kvconvert.
#include "convert/convert.h"

int main() { kv::RunConvertProgram(); }
