// SPDX-License-Identifier: MIT
// What SendMail writes into a new message besides its recipients: body and
// subject texts, and file attachments.
#pragma once

#include "foundation/ks_string.h"
#include "mapi/mapi.h"

class MapiSession;

// Sets a text property as UTF-16; a store that refuses the width gets the
// text's UTF-8 bytes under the 8-bit tag instead.
void setTextProperty(MapiSession& session, IMessage* message, ULONG wideTag, ULONG narrowTag,
                     const KsString& text);

// Attaches each file of a ';'-separated path list by value. A path whose
// attachment cannot be made is skipped. A file that cannot be read whole
// (see copyAttachmentFile) leaves an attachment with its names and no data;
// for a silent request it also ends the list there and its failure
// (MAPI_E_NOT_FOUND or MAPI_E_NO_ACCESS) is returned, S_OK otherwise. Other
// results go into the status.
HRESULT attachFiles(MapiSession& session, IMessage* message, const KsString& paths);
