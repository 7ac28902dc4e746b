// What the session needs of a window: the panel operations. The Qt window, the terminal front end and the
// tests each implement it. Implementations are called from one thread at a time (see SessionControl).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "control_ids.h"

enum class MessageIcon { None, Error };

class Panel {
  public:
    virtual ~Panel() = default;

    virtual void setStatus(const std::string& text) = 0;
    virtual void setFieldText(int control, const std::string& text) = 0;
    virtual void clearImageFields() = 0;
    // The whole count: ranges are not cut to 16 bits. A step past the top starts the bar over.
    virtual void progressStart(std::uint32_t range) = 0;
    virtual void progressStep() = 0;
    virtual void progressReset() = 0;
    // Modal; returns when the user has closed it.
    virtual void showMessage(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
    // The same message with a second text under it: the cause, and what to do. A panel with no room for it
    // shows the message alone.
    virtual void showDetailedMessage(const std::string& text, const std::string& /*detail*/,
                                     const std::string& caption, MessageIcon icon) {
        showMessage(text, caption, icon);
    }
    virtual char selectedPortDigit() = 0;  // '1'..'4'
    virtual void setControlEnabled(int control, bool enabled) = 0;
    virtual void setControlVisible(int control, bool visible) = 0;
    virtual void redrawPanel() = 0;

    // Runs `calls` on this panel as one step. A panel whose calls travel to another thread keeps them
    // together there, so that no click is handled half-way through (see WorkerPanel).
    virtual void together(const std::function<void(Panel&)>& calls) { calls(*this); }
};
