// The commands encrypt and decrypt: the inputs planned, the key or passphrase obtained once
// there is work for it, then every input converted.
#pragma once

#include "options.h"

namespace cli {

int runEncrypt(const Options &options);
int runDecrypt(const Options &options);

} // namespace cli
