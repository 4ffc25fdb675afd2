#include "TamselApp.h"

#include "MainWindow.h"

#include <File.h>
#include <Node.h>

#include <cstring>
#include <unistd.h>

const char* const kAppSignature = "application/x-vnd.TamselGogoFrontend";
const char* const kListMimeType = "text/x-TamselGogoFronted-list";
const char* const kDefaultEncoderLocation = "/boot/home/config/bin/Gogo";

namespace {

const char* const kAttrEncoderLocation = "encoder_location";
const char* const kAttrDontCloseOnAdd = "dont_close_on_add";
const char* const kAttrDontClearOnOpen = "dont_clear_on_open";
const char* const kAttrSelfRegister = "self_register_mime_type";

// A stored flag is one byte, 0 or 1. Anything else (another size, another
// type, a read error) gives the default: a stray byte must never be loaded
// into a bool as it is.
bool ReadFlag(const BNode& node, const char* name, bool fallback)
{
	attr_info info;
	if (node.GetAttrInfo(name, &info) == B_OK) {
		if (info.size != 1 || (info.type != B_BOOL_TYPE && info.type != B_RAW_TYPE))
			return fallback;
	}
	uint8 byte = 0;
	const ssize_t read = node.ReadAttr(name, B_BOOL_TYPE, 0, &byte, 1);
	if (read != 1 || byte > 1)
		return fallback;
	return byte == 1;
}

} // namespace

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

	// The location must be a string that ends within the buffer; a value
	// written by another tool that does not, or any read error, gives the
	// default rather than a string that runs past the buffer.
	bool haveLocation = false;
	attr_info attr;
	const bool typeOk = file.GetAttrInfo(kAttrEncoderLocation, &attr) != B_OK
		|| attr.type == B_STRING_TYPE || attr.type == B_RAW_TYPE;
	if (typeOk) {
		const ssize_t read = file.ReadAttr(kAttrEncoderLocation, B_STRING_TYPE, 0,
			encoderLocation.get(), kEncoderLocationSize);
		if (read > 0 && std::memchr(encoderLocation.get(), '\0', size_t(read)) != nullptr)
			haveLocation = true;
	}
	if (!haveLocation)
		std::strcpy(encoderLocation.get(), kDefaultEncoderLocation);

	dontCloseOnAdd = ReadFlag(file, kAttrDontCloseOnAdd, false);
	dontClearOnOpen = ReadFlag(file, kAttrDontClearOnOpen, false);
	selfRegisterMimeType = ReadFlag(file, kAttrSelfRegister, true);
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

	node.WriteAttr(kAttrEncoderLocation, B_STRING_TYPE, 0, encoderLocation.get(),
		std::strlen(encoderLocation.get()) + 1);
	const uint8 closeOnAdd = dontCloseOnAdd ? 1 : 0;
	const uint8 clearOnOpen = dontClearOnOpen ? 1 : 0;
	const uint8 selfRegister = selfRegisterMimeType ? 1 : 0;
	node.WriteAttr(kAttrDontCloseOnAdd, B_BOOL_TYPE, 0, &closeOnAdd, 1);
	node.WriteAttr(kAttrDontClearOnOpen, B_BOOL_TYPE, 0, &clearOnOpen, 1);
	node.WriteAttr(kAttrSelfRegister, B_BOOL_TYPE, 0, &selfRegister, 1);
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
			// owns the run state, so it is read only on its thread.
			BMessage notice(kMsgEncoderQuit);
			entry_ref ref;
			if (message->FindRef("be:ref", &ref) == B_OK)
				notice.AddRef("be:ref", &ref);
			int32 team;
			if (message->FindInt32("be:team", &team) == B_OK)
				notice.AddInt32("be:team", team);
			fMainWindowMessenger.SendMessage(&notice);
			break;
		}
		case 'ENCO':
		case 'LOGP':
		case 'OLPM':
		case 'SLPM':
			fMainWindowMessenger.SendMessage(message);
			break;
		default:
			BApplication::MessageReceived(message);
	}
}
