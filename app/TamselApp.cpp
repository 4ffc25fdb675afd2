#include "TamselApp.h"

#include "Commands.h"

#include "MainWindow.h"
#include "SettingsStore.h"

#include <File.h>
#include <Node.h>

#include <cstring>
#include <unistd.h>

const char* const kAppSignature = "application/x-vnd.TamselGogoFrontend";
const char* const kListMimeType = "text/x-TamselGogoFronted-list";


TamselApp* tamsel_app()
{
	return static_cast<TamselApp*>(be_app);
}

TamselApp::TamselApp()
	:
	BApplication(kAppSignature),
	encoderLocation(new char[kEncoderLocationSize])
{
	encoderLocation[0] = '\0';
}

void TamselApp::ReadOptions()
{
	app_info info;
	GetAppInfo(&info);
	BFile file(&info.ref, B_READ_ONLY);
	SettingsValues values;
	values.location = encoderLocation.get();
	LoadSettings(file, values);
	dontCloseOnAdd = values.dontCloseOnAdd;
	dontClearOnOpen = values.dontClearOnOpen;
	selfRegisterMimeType = values.selfRegisterMimeType;
}

void TamselApp::WriteOptions()
{
	app_info info;
	GetAppInfo(&info);
	// A running executable cannot be opened for writing on Linux (ETXTBSY),
	// and attributes do not need it: they are set through a node, provided
	// the file itself may be written.
	BNode node(&info.ref);
	if (node.InitCheck() != B_OK)
		return;
	const std::string path = info.ref.Path();
	if (access(path.c_str(), W_OK) != 0)
		return;
	SettingsValues values;
	values.location = encoderLocation.get();
	values.dontCloseOnAdd = dontCloseOnAdd;
	values.dontClearOnOpen = dontClearOnOpen;
	values.selfRegisterMimeType = selfRegisterMimeType;
	StoreSettings(node, values);
}

void TamselApp::ReadyToRun()
{
	ReadOptions();
	if (selfRegisterMimeType)
		RegisterMIMEType(false);
	// The window belongs to itself: it deletes itself when it quits.
	mainWindow = new MainWindow(hasLaunchRef ? &launchRef : nullptr);
	fMainWindowMessenger = BMessenger(mainWindow);
	mainWindow->Show();
}

void TamselApp::RefsReceived(BMessage* message)
{
	if (IsLaunching()) {
		entry_ref ref;
		if (message->FindRef("refs", 0, &ref) == B_OK) {
			launchRef = ref;
			hasLaunchRef = true;
		}
		return;
	}
	// Handed over by posting, so that the list is only touched on the main
	// window's thread.
	fMainWindowMessenger.SendMessage(message);
}

void TamselApp::MessageReceived(BMessage* message)
{
	switch (message->what) {
		case B_SOME_APP_QUIT: {
			// The window decides whether the notice belongs to its run; it
			// owns the run state, so it is read only on its thread. The
			// notice goes whole: how the encoder ended is in it.
			BMessage notice(*message);
			notice.what = kMsgEncoderQuit;
			fMainWindowMessenger.SendMessage(&notice);
			break;
		}
		case kMsgEncoderOption:
		case kMsgLocatePanel:
		case kMsgOpenPanel:
		case kMsgSavePanel:
			fMainWindowMessenger.SendMessage(message);
			break;
		default:
			BApplication::MessageReceived(message);
	}
}
