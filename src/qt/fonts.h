#pragma once

#include <QFont>

namespace platform {

// The dialog's font (Tahoma, 11 pixels high) and the bold caption font
// ("MS Sans Serif"), registered from the Wine font folder where the system lacks them.
[[nodiscard]] QFont dialogFont();
[[nodiscard]] QFont captionFont();

} // namespace platform
