// Message texts of the error numbers, keyed by string-resource id (the ids that
// ErrorMessageId gives for each error number).
#pragma once

#include "velk/oleauto.h"

namespace velk::automation {

// The text of message `id` as a new BSTR, or null when there is none.
BSTR LoadMessageText(UINT id);

// Test seam: while set, no text can be had (as when the companion library is missing).
void SetMessageTextsMissingForTesting(bool missing);

}  // namespace velk::automation
