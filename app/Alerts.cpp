#include "Alerts.h"

#include <Alert.h>

namespace {

void ShowAlert(const char* title, const std::string& text, alert_type type)
{
	(new BAlert(title, text.c_str(), "OK", nullptr, nullptr, B_WIDTH_AS_USUAL, type))->Go();
}

} // namespace

void ShowStopAlert(const char* title, const std::string& text)
{
	ShowAlert(title, text, B_STOP_ALERT);
}

void ShowInfoAlert(const char* title, const std::string& text)
{
	ShowAlert(title, text, B_INFO_ALERT);
}
