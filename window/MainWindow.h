// The main window: menus, the three tabs, "Exit" and "Encode!", the progress
// window, the state of an encoding run and the dispatch of every command.
#pragma once

#include "RunReport.h"

#include "Commands.h"

#include <Button.h>
#include <Entry.h>
#include <MenuBar.h>
#include <Window.h>

#include <string>
#include <vector>

class FilesList;
class ProgressWindow;
class TabView;

class MainWindow : public BWindow {
public:
	explicit MainWindow(const entry_ref* ref);
	~MainWindow() override;

	void MessageReceived(BMessage* message) override;
	bool QuitRequested() override;

	void RefsReceived(BMessage* message);
	void EncodeNext();

	BView* backView = nullptr;
	BButton* closeButton = nullptr;
	BButton* encodeButton = nullptr;
	ProgressWindow* progressWindow = nullptr;
	BMenuBar* menuBar = nullptr;
	// The options of the run, captured when it starts; any length.
	std::string optionsBefore;
	std::string optionsAfter;
	// The before-options as the encoder's words, captured with them.
	std::vector<std::string> optionWords;
	int32 fileIndex = 0;
	team_id encoderTeam = -1;
	entry_ref encoderRef;
	FilesList* filesList = nullptr;
	TabView* tabView = nullptr;
	bool encoding = false;
	// The input of the encoder launched last, and what failed so far.
	std::string encoderPath;
	RunReport runReport;

private:
	void StartEncoding();
	void EndRun();
	void SkipFile();
	void StopEncoding();
	void EncoderQuit(BMessage* message);
	void SaveListRequested(BMessage* message);
	void OpenListRequested(BMessage* message);
	void ShowAddPanel();
	void LocatePanelChose(BMessage* message);
	void OpenReadme();
};
