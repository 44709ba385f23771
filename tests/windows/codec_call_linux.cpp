// The Linux library is linked: its MakeCode is simply there.
#include "codec_call.h"

MakeCodeFunction bindMakeCode() {
    return &MakeCode;
}
