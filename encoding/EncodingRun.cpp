// The encoding run of the main window: one encoder at a time over the file
// list, the next one started by the roster's notice that the last one quit.
// Everything here runs on the main window's thread; the application posts
// the notices to it.

#include "MainWindow.h"

#include "Alerts.h"
#include "EncoderView.h"
#include "FilesList.h"
#include "ProgressWindow.h"
#include "TabView.h"
#include "TamselApp.h"
#include "TamselLaunch.h"

#include <Application.h>
#include <Autolock.h>
#include <Entry.h>
#include <ListItem.h>
#include <Roster.h>

#include <string>
#include <vector>

namespace {

constexpr const char* kEncoderName = "Gogo";

} // namespace

void MainWindow::StartEncoding()
{
	if (encoding)
		return;

	const char* location = tamsel_app()->encoderLocation.get();
	BEntry entry(location, true);
	if (!entry.Exists()) {
		const std::string where = location != nullptr ? location : "";
		ShowStopAlert("EncodeFailed", where
			+ " not found. Please go to the Program options panel and make sure the \""
			+ "Gogo location:" + "\" field points directly to " + kEncoderName
			+ ", or a symlink to it (not the directory it is in).");
		return;
	}

	entry.GetRef(&encoderRef);
	fileIndex = 0;
	runReport.Clear();

	EncoderView* encoderView = tabView->encoderView;
	encoderView->OptionsBefore(optionsBefore);
	encoderView->OptionsAfter(optionsAfter);
	optionWords = encoderView->OptionWordsBefore();

	encoding = true;

	if (BAutolock lock(progressWindow); lock.IsLocked()) {
		progressWindow->Show();
		progressWindow->MoveTo(Frame().left + 50, Frame().top + 50);
	}

	be_roster->StartWatching(be_app_messenger, B_REQUEST_QUIT);
	EncodeNext();
}

void MainWindow::EncodeNext()
{
	// The list may have changed since the last file: files dropped on it
	// count, and a shortened list ends the run rather than reading past it.
	const int32 count = filesList->CountItems();
	if (fileIndex >= count) {
		EndRun();
		// The run went through its list; whatever failed on the way is told
		// now, once, rather than stopping the run at each file.
		if (runReport.Failed() > 0)
			ShowStopAlert("EncodeReport", runReport.Text());
		return;
	}

	const std::string path = static_cast<BStringItem*>(filesList->ItemAt(fileIndex))->Text();
	const std::string shown = path.find(' ') != std::string::npos ? "\"" + path + "\"" : path;
	const std::string countText
		= "File " + std::to_string(fileIndex + 1) + " of " + std::to_string(count);

	if (BAutolock lock(progressWindow); lock.IsLocked()) {
		progressWindow->fileNameView->SetText(shown.c_str());
		progressWindow->fileNumberView->SetText(countText.c_str());
		progressWindow->skipButton->SetEnabled(true);
		progressWindow->stopButton->SetEnabled(true);
	}

	// The path is a word of its own, so that no name can be taken apart.
	const status_t status = TamselLaunch(&encoderRef, optionWords, path,
		SplitArguments(optionsAfter), &encoderTeam);
	if (status != B_OK) {
		ShowStopAlert("LaunchFailed", std::string("Something bad happened when tried to launch ")
			+ kEncoderName + ". Make sure " + kEncoderName
			+ " is where it should be, isn't running and try again.");
		EndRun();
		return;
	}
	encoderPath = path;
	runReport.FileStarted();
	fileIndex += 1;
}

// The end of a run, however it ends: through its list, at a failed launch,
// or stopped midway (then the encoder still running goes too, once the
// roster's notices are no longer wanted).
void MainWindow::EndRun(team_id stopTeam)
{
	be_roster->StopWatching(be_app_messenger);
	if (stopTeam >= 0)
		kill_team(stopTeam);
	encoding = false;
	fileIndex = 0;
	if (BAutolock lock(progressWindow); lock.IsLocked())
		progressWindow->Hide();
}

void MainWindow::EncoderQuit(BMessage* message)
{
	if (!encoding)
		return;
	entry_ref ref;
	if (message->FindRef("be:ref", &ref) != B_OK || ref != encoderRef)
		return;
	// Only the encoder of this file moves the run on: the notice of one that
	// was stopped, or skipped and already replaced, may still be on its way.
	int32 team = -1;
	if (message->FindInt32("be:team", &team) != B_OK || team != encoderTeam)
		return;
	runReport.FileEnded(encoderPath, *message);
	EncodeNext();
}

void MainWindow::SkipFile()
{
	if (!encoding)
		return;
	if (BAutolock lock(progressWindow); lock.IsLocked()) {
		progressWindow->skipButton->SetEnabled(false);
		progressWindow->stopButton->SetEnabled(false);
	}
	// Its quit notice starts the next file.
	kill_team(encoderTeam);
}

void MainWindow::StopEncoding()
{
	if (!encoding)
		return;
	EndRun(encoderTeam);
}
