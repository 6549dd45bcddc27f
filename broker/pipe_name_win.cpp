// SPDX-License-Identifier: MIT
#include "broker/pipe_name.h"

const char* pipeNameBytes(KsString& name) {
    return name.ansiView();
}
