// Instantiates a phase template for both value widths in the source file that defines it.
#pragma once

#include "format/width.h"

#define KV_FOR_BOTH_WIDTHS(MACRO) \
  MACRO(Width64)                  \
  MACRO(Width32)
