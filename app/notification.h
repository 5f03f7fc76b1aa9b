#pragma once
// Desktop notifications over the session bus (org.freedesktop.Notifications).

#include <string>

namespace tarnwick::app {

// Shows a notification from Tarnwick. False when there is no session bus or no notification
// server answered; nothing else happens then.
bool ShowNotification(const std::string& summary, const std::string& body);

}  // namespace tarnwick::app
