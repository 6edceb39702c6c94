#pragma once

#include <functional>
#include <string>

namespace form {

enum class Logo { None, Vestiora, Duranel };

// What the form logic asks of its window. A view holds no logic of the exchange: each
// call is one toolkit call or a few. Texts are UTF-8.
class FicheView {
public:
    virtual ~FicheView() = default;

    virtual void setCaptionAndLogo(const std::string &caption, Logo logo) = 0;
    // A modal message box; returns once the user has dismissed it.
    virtual void showMessage(const std::string &text) = 0;
    // False when no browser could be started.
    [[nodiscard]] virtual bool openInBrowser(const std::string &url) = 0;
    // The instruction line; an empty text gives it back its own text.
    virtual void setProgressText(const std::string &text) = 0;
    virtual void setRetrievalEnabled(bool enabled) = 0;
    virtual void setBusy(bool busy) = 0; // the wait cursor
    // Ends the window's event loop.
    virtual void closeWindow() = 0;
    // Runs `work` on a worker thread and returns once it has ended. Meanwhile the window
    // stays alive (paints, moves, takes clicks and its close box) and `tick` runs on the
    // window's thread at least four times a second. `work` throws nothing.
    virtual void runInBackground(const std::function<void()> &work, const std::function<void()> &tick) = 0;
};

} // namespace form
