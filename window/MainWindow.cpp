#include "MainWindow.h"

#include "Commands.h"

#include "Alerts.h"
#include "EncoderView.h"
#include "FilesList.h"
#include "FilesView.h"
#include "OptionsView.h"
#include "ProgressWindow.h"
#include "TabView.h"
#include "TamselApp.h"

#include <Application.h>
#include <Autolock.h>
#include <Entry.h>
#include <File.h>
#include <GraphicsDefs.h>
#include <Menu.h>
#include <MenuItem.h>
#include <NodeInfo.h>
#include <Path.h>
#include <Roster.h>

#include <cstring>

namespace {

// The path of a ref with links followed; empty when it has none.
std::string ResolvedPath(const entry_ref& ref)
{
	BEntry entry(&ref, true);
	BPath path;
	if (entry.GetPath(&path) != B_OK || path.Path() == nullptr)
		return {};
	return path.Path();
}

} // namespace

MainWindow::MainWindow(const entry_ref* ref)
	:
	BWindow(BRect(100, 100, 540, 380), "Tamsel Gogo Frontend 1.2a", B_TITLED_WINDOW,
		B_NOT_RESIZABLE | B_NOT_ZOOMABLE | B_ASYNCHRONOUS_CONTROLS, B_CURRENT_WORKSPACE)
{
	// The progress window is a window of its own; the application closes it
	// when it quits.
	progressWindow = new ProgressWindow(this);
	progressWindow->Run();

	menuBar = new BMenuBar(BRect(0, 0, 10, 10), "MenuBar", B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP,
		B_ITEMS_IN_ROW, true);
	BMenu* listMenu = new BMenu("List", B_ITEMS_IN_COLUMN);
	listMenu->AddItem(new BMenuItem("New", new BMessage(kMsgNewList)));
	listMenu->AddItem(new BMenuItem("Save...", new BMessage(kMsgSaveList)));
	listMenu->AddItem(new BMenuItem("Open...", new BMessage(kMsgOpenList)));
	listMenu->AddSeparatorItem();
	listMenu->AddItem(new BMenuItem("Exit", new BMessage(kMsgClose)));
	menuBar->AddItem(listMenu);
	BMenu* helpMenu = new BMenu("Help", B_ITEMS_IN_COLUMN);
	helpMenu->AddItem(new BMenuItem("Readme", new BMessage(kMsgReadme)));
	helpMenu->AddSeparatorItem();
	BMenuItem* aboutItem = new BMenuItem("About...", new BMessage(B_ABOUT_REQUESTED));
	aboutItem->SetTarget(be_app);
	helpMenu->AddItem(aboutItem);
	menuBar->AddItem(helpMenu);
	AddChild(menuBar);

	BRect backFrame = Bounds();
	backFrame.top = menuBar->Frame().bottom + 1;
	backView = new BView(backFrame, "BackView", B_FOLLOW_ALL_SIDES, 0);
	backView->SetViewColor(ui_color(B_PANEL_BACKGROUND_COLOR));
	AddChild(backView);

	const float R = backView->Bounds().right;
	const float B = backView->Bounds().bottom;
	closeButton = new BButton(BRect(R - 79, B - 29, R - 5, B - 5), "CloseButton", "Exit",
		new BMessage(kMsgClose), B_FOLLOW_RIGHT | B_FOLLOW_BOTTOM, B_WILL_DRAW | B_NAVIGABLE);
	closeButton->ResizeToPreferred();
	backView->AddChild(closeButton);
	const float W = closeButton->Bounds().Width();

	encodeButton = new BButton(BRect(R - W - 83, B - 29, R - W - 9, B - 5), "EncodeButton",
		"Encode!", new BMessage(kMsgEncode), B_FOLLOW_RIGHT | B_FOLLOW_BOTTOM,
		B_WILL_DRAW | B_NAVIGABLE);
	encodeButton->ResizeToPreferred();
	encodeButton->SetEnabled(false);
	backView->AddChild(encodeButton);

	BRect tabFrame = backView->Bounds();
	tabFrame.InsetBy(5, 5);
	tabFrame.bottom -= 29;
	tabView = new TabView(tabFrame, encodeButton, this);
	backView->AddChild(tabView);
	tabView->SetTabWidth(B_WIDTH_FROM_WIDEST);

	filesList = tabView->filesView->filesList;

	if (ref != nullptr) {
		const std::string path = ResolvedPath(*ref);
		filesList->Open(path.c_str());
	}
}

MainWindow::~MainWindow() = default;

bool MainWindow::QuitRequested()
{
	tamsel_app()->WriteOptions();
	be_app->PostMessage(B_QUIT_REQUESTED);
	return true;
}

void MainWindow::MessageReceived(BMessage* message)
{
	TamselApp* app = tamsel_app();
	OptionsView* options = tabView->optionsView;
	switch (message->what) {
		case kMsgNewList:
			filesList->Clear();
			break;
		case kMsgSaveList:
			filesList->ShowSave();
			break;
		case kMsgOpenList:
			filesList->ShowOpen();
			break;
		case kMsgClose:
			be_app->PostMessage(B_QUIT_REQUESTED);
			break;
		case kMsgReadme:
			OpenReadme();
			break;
		case kMsgEncode:
			StartEncoding();
			break;
		case kMsgAddFiles:
			ShowAddPanel();
			break;
		case kMsgRemoveFiles:
			filesList->RemoveFiles();
			break;
		case kMsgMoveUp:
			filesList->MoveUp();
			break;
		case kMsgMoveDown:
			filesList->MoveDown();
			break;
		case kMsgSavePanel:
			SaveListRequested(message);
			break;
		case kMsgOpenPanel:
			OpenListRequested(message);
			break;
		case kMsgEncoderOption:
			tabView->encoderView->MessageReceived(message);
			break;
		case kMsgLocationModified: {
			// The field takes at most 1023 bytes, so this always fits; the
			// bound is kept anyway.
			const char* text = options->locationField->Text();
			std::strncpy(app->encoderLocation.get(), text, kEncoderLocationSize - 1);
			app->encoderLocation[kEncoderLocationSize - 1] = '\0';
			break;
		}
		case kMsgLocateEncoder:
			options->locatePanel->Show();
			break;
		case kMsgLocatePanel:
			LocatePanelChose(message);
			break;
		case kMsgDontCloseOnAdd:
			app->dontCloseOnAdd = options->closeOnAddBox->Value() == B_CONTROL_ON;
			break;
		case kMsgDontClearOnOpen:
			app->dontClearOnOpen = options->clearOnOpenBox->Value() == B_CONTROL_ON;
			break;
		case kMsgSelfRegister:
			app->selfRegisterMimeType = options->selfInstallBox->Value() == B_CONTROL_ON;
			break;
		case kMsgRegisterNow:
			app->RegisterMIMEType(true);
			break;
		case kMsgUnregisterNow:
			app->UnregisterMIMEType();
			break;
		case kMsgSkipFile:
			SkipFile();
			break;
		case kMsgStopEncoding:
			StopEncoding();
			break;
		case B_REFS_RECEIVED:
			RefsReceived(message);
			break;
		case kMsgEncoderQuit:
			EncoderQuit(message);
			break;
		default:
			BWindow::MessageReceived(message);
	}
}

void MainWindow::SaveListRequested(BMessage* message)
{
	entry_ref directory;
	const char* name = nullptr;
	if (message->FindRef("directory", &directory) != B_OK
		|| message->FindString("name", &name) != B_OK)
		return;
	const std::string path = ResolvedPath(directory) + "/" + name;
	filesList->Save(path.c_str());
}

void MainWindow::OpenListRequested(BMessage* message)
{
	entry_ref ref;
	if (message->FindRef("refs", 0, &ref) != B_OK)
		return;
	const std::string path = ResolvedPath(ref);
	filesList->Open(path.c_str());
}

void MainWindow::ShowAddPanel()
{
	const bool dontClose = tamsel_app()->dontCloseOnAdd;
	BFilePanel* panel = tabView->filesView->addPanel.get();
	panel->SetHideWhenDone(!dontClose);
	panel->SetButtonLabel(B_CANCEL_BUTTON, dontClose ? "Close" : "Cancel");
	panel->Show();
}

void MainWindow::LocatePanelChose(BMessage* message)
{
	entry_ref ref;
	if (message->FindRef("refs", 0, &ref) != B_OK)
		return;
	// The link itself, not its target: the run follows it when it starts.
	BEntry entry(&ref, false);
	BPath path;
	if (entry.GetPath(&path) != B_OK || path.Path() == nullptr)
		return;
	if (BAutolock lock(this); lock.IsLocked())
		tabView->optionsView->locationField->SetText(path.Path());
}

void MainWindow::OpenReadme()
{
	app_info info;
	be_app->GetAppInfo(&info);
	BEntry executable(&info.ref);
	BEntry directory;
	BPath directoryPath;
	std::string readme;
	if (executable.GetParent(&directory) == B_OK && directory.GetPath(&directoryPath) == B_OK
		&& directoryPath.Path() != nullptr)
		readme = std::string(directoryPath.Path()) + "/readme";

	BEntry entry(readme.c_str(), true);
	entry_ref ref;
	if (!readme.empty() && entry.Exists() && entry.GetRef(&ref) == B_OK) {
		be_roster->Launch(&ref);
		return;
	}
	ShowStopAlert("ReadmeDialog", "Readme file not found!");
}

void MainWindow::RefsReceived(BMessage* message)
{
	entry_ref ref;
	for (int32 i = 0; message->FindRef("refs", i, &ref) == B_OK; i++) {
		BEntry entry(&ref, true);
		BPath path;
		if (entry.GetPath(&path) != B_OK || path.Path() == nullptr)
			continue;
		char type[B_MIME_TYPE_LENGTH] = "";
		BFile file(&entry, B_READ_ONLY);
		BNodeInfo nodeInfo(&file);
		const bool isList = file.InitCheck() == B_OK && nodeInfo.GetType(type) == B_OK
			&& std::strcmp(type, kListMimeType) == 0;
		if (isList) {
			filesList->Open(path.Path());
			return;
		}
		filesList->AddFile(path.Path());
	}
}
