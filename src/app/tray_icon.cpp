#include "app/tray_icon.h"

#include <algorithm>
#include <exception>

#include "platform/diag.h"

namespace rovalink::app {

TrayIcon::TrayIcon(platform::UiPort& ui) : m_ui(ui) {}

TrayIcon::~TrayIcon() {
  try {
    Unload();
  } catch (...) {
    // The process is going away; a desktop that refuses the removal changes nothing.
  }
}

std::string TrayIcon::TipText(const std::string& caption) {
  return caption.substr(0, std::min(caption.size(), kTipLength));
}

void TrayIcon::Update(bool IconOn) {
  if (IconOn) {
    m_lastOperation = m_iconShown ? Operation::Modify : Operation::Add;
    m_ui.updateTrayIcon(true, TipText(m_caption));
    m_iconShown = true;
    return;
  }
  if (!m_iconShown) {
    m_lastOperation = Operation::None;
    return;
  }
  m_lastOperation = Operation::Delete;
  m_ui.updateTrayIcon(false, TipText(m_caption));
  m_iconShown = false;
}

void TrayIcon::mouseMessage(std::int32_t msg) {
  if (m_inCallback) return;
  m_inCallback = true;
  if (msg >= tray_message::kLeftButtonDown && msg <= tray_message::kRightButtonDoubleClick &&
      m_owner != nullptr) {
    // The owner's failures stay with the owner; the icon keeps working.
    try {
      m_owner->TrayIconCallback(msg);
    } catch (const std::exception& e) {
      diag::warning(std::string("tray icon callback failed: ") + e.what());
    } catch (...) {
      diag::warning("tray icon callback failed");
    }
  }
  m_inCallback = false;
}

}  // namespace rovalink::app
