// BAlert: a box with a text and up to three buttons. Go shows it and blocks
// the calling thread, and only that thread, until a button is pressed.
#pragma once

#include <InterfaceDefs.h>

#include <string>
#include <vector>

class BAlert {
public:
	BAlert(const char* title, const char* text, const char* button0,
		const char* button1 = nullptr, const char* button2 = nullptr,
		button_width width = B_WIDTH_AS_USUAL, alert_type type = B_INFO_ALERT);
	~BAlert();

	// Returns the index of the button pressed and deletes the alert, as on
	// the platform: after Go the pointer is gone. The caller's window gets its
	// pending changes shown first.
	int32 Go();

	const char* Title() const { return fTitle.c_str(); }
	const char* Text() const { return fText.c_str(); }
	int32 CountButtons() const { return int32(fButtons.size()); }
	alert_type Type() const { return fType; }

private:
	std::string fTitle;
	std::string fText;
	std::vector<std::string> fButtons;
	button_width fWidth;
	alert_type fType;
};
