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
	FilesList* filesList = nullptr;
	TabView* tabView = nullptr;

	// ---- the encoding run: its state, all of it; its steps are in
	// encoding/EncodingRun.cpp (StartEncoding, EncodeNext, EncoderQuit,
	// SkipFile, StopEncoding, EndRun). Written only on this window's thread.
	bool encoding = false;       // a run is active
	int32 fileIndex = 0;         // the next file of the list to start
	entry_ref encoderRef;        // the encoder, resolved when the run starts
	team_id encoderTeam = -1;    // the encoder launched last
	// The options of the run, captured when it starts; any length.
	std::string optionsBefore;
	std::string optionsAfter;
	// The before-options as the encoder's words, captured with them.
	std::vector<std::string> optionWords;
	// The input of the encoder launched last, and what failed so far.
	std::string encoderPath;
	RunReport runReport;

private:
	// The run's steps (encoding/EncodingRun.cpp).
	void StartEncoding();
	// Ends the run; a run stopped midway names the encoder to stop with it.
	void EndRun(team_id stopTeam = -1);
	void SkipFile();
	void StopEncoding();
	void EncoderQuit(BMessage* message);

	void SaveListRequested(BMessage* message);
	void OpenListRequested(BMessage* message);
	void ShowAddPanel();
	void LocatePanelChose(BMessage* message);
	void OpenReadme();
};
