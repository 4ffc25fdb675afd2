// The application object: settings, start-up, and the hand-over of files,
// panel results and encoder quit notices to the main window.
#pragma once

#include <Application.h>
#include <Entry.h>

#include <memory>

class MainWindow;

extern const char* const kAppSignature;
extern const char* const kListMimeType;
extern const char* const kDefaultEncoderLocation;

// Room for the encoder location and its terminator.
constexpr size_t kEncoderLocationSize = 1024;

class TamselApp : public BApplication {
public:
	TamselApp();

	void MessageReceived(BMessage* message) override;
	void ReadyToRun() override;
	void RefsReceived(BMessage* message) override;
	void AboutRequested() override;

	void ReadOptions();
	void WriteOptions();
	void RegisterMIMEType(bool showAlert);
	void UnregisterMIMEType();

	entry_ref launchRef;
	MainWindow* mainWindow = nullptr;
	bool hasLaunchRef = false;
	// The settings; after ReadyToRun only the main window's thread touches them.
	std::unique_ptr<char[]> encoderLocation;
	bool dontCloseOnAdd = false;
	bool dontClearOnOpen = false;
	bool selfRegisterMimeType = true;

private:
	// The main window can be gone while the application still gets notices.
	BMessenger fMainWindowMessenger;
};

// The application object as the program's own class.
TamselApp* tamsel_app();
