// codec_call: one MakeCode call from the command line, on either system's library, so that
// scripts can encode on one system and decode on the other.
#pragma once

#include "halvet_tolvex.h"

using MakeCodeFunction = int32_t(TOLVEX_CALL *)(const char *, const char *, uint32_t, int32_t,
                                                int32_t, int32_t);

// The library's MakeCode, or nullptr after saying on stderr why there is none.
MakeCodeFunction bindMakeCode();
