#pragma once

#include <functional>

class QString;
class QWidget;

// The Qt view's message box. Tests replace the box with a handler
// that records the text and returns at once, as if the user had pressed OK.
namespace platform {

using MessageHandler = std::function<void(const QString &text)>;

// Shows `text` in a modal box over `parent` (or with no owner) and waits until the user
// dismisses it.
void showMessage(const QString &text, QWidget *parent = nullptr);

// Installs `handler` in place of the box; an empty handler restores the box.
// Returns the previous handler.
MessageHandler setMessageHandler(MessageHandler handler);

} // namespace platform
