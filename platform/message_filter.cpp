#include "platform/message_filter.h"

namespace platform {

void openMessageFilter() {}

}  // namespace platform
