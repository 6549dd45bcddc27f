// SPDX-License-Identifier: MIT
// Opens libmbmime.so on the first message the provider renders.
//
// The Broker loads the provider for every request, so loading it must stay
// cheap: GMime and GLib come in only when a message is filed. They are
// opened with RTLD_NODELETE and never closed, because GLib cannot be
// unloaded and loaded again in one process; later loads of the provider
// find the renderer already resident, initialised once.
//
// The renderer is looked up beside the provider's own file first, then
// where the build put it.
#pragma once

#include "mapi/mapi.h"
#include "provider/mime/render.h"

namespace mb::provider {

// Renders a message into fd: S_OK, a MAPI code for the errno the renderer
// reported, or MAPI_E_CALL_FAILED when the renderer cannot be loaded.
HRESULT renderMime(const MbMimeMessage& message, int fd);

}  // namespace mb::provider
