#include "ProgramHarness.h"

#include "FilesList.h"
#include "MainWindow.h"
#include "TamselApp.h"

#include <Display.h>
#include <Node.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace testing_support {

namespace {

std::string ExecutablePath()
{
	std::error_code error;
	return std::filesystem::read_symlink("/proc/self/exe", error).string();
}

} // namespace

void ClearStoredSettings()
{
	BNode node(ExecutablePath().c_str());
	for (const char* name : {"encoder_location", "dont_close_on_add", "dont_clear_on_open",
			 "self_register_mime_type"})
		node.RemoveAttr(name);
}

void StoreEncoderLocation(const std::string& path)
{
	BNode node(ExecutablePath().c_str());
	node.WriteAttr("encoder_location", B_STRING_TYPE, 0, path.c_str(), path.size() + 1);
}

ProgramRun::ProgramRun(std::vector<std::string> launchFiles)
{
	const std::string data = fHome / "data";
	const std::string config = fHome / "config";
	std::filesystem::create_directories(data);
	std::filesystem::create_directories(config);
	setenv("XDG_DATA_HOME", data.c_str(), 1);
	setenv("XDG_CONFIG_HOME", config.c_str(), 1);

	BPrivate::ResetDisplay();
	fApp = std::make_unique<TamselApp>();
	fApp->SetLaunchArguments(std::move(launchFiles));
	fRobot = BPrivate::GetHeadlessDisplay();
	fThread = std::thread([this] {
		fApp->Run();
		fEnded = true;
	});
	fStarted = fRobot != nullptr
		&& fRobot->WaitFor([this] { return fRobot->IsWindowShown(kMainTitle); });
}

ProgramRun::~ProgramRun()
{
	Quit();
	if (fThread.joinable())
		fThread.join();
	fApp.reset();
	BPrivate::ResetDisplay();
}

MainWindow* ProgramRun::Window() const
{
	return fApp ? fApp->mainWindow : nullptr;
}

bool ProgramRun::Ended() const
{
	return fEnded.load();
}

bool ProgramRun::Quit()
{
	if (fEnded)
		return true;
	fApp->PostMessage(B_QUIT_REQUESTED);
	// An alert left open would keep its thread from quitting: close it as a
	// user would.
	return WaitUntil([this] {
		if (fRobot != nullptr) {
			for (const auto& alert : fRobot->Alerts())
				fRobot->AnswerAlert(int32(alert.buttons.size()) - 1, alert.title);
		}
		return fEnded.load();
	}, std::chrono::seconds(20));
}

std::vector<std::string> ProgramRun::ListItems() const
{
	std::vector<std::string> items;
	MainWindow* window = Window();
	if (window == nullptr || !window->Lock())
		return items;
	for (int32 i = 0; i < window->filesList->CountItems(); i++)
		items.emplace_back(static_cast<BStringItem*>(window->filesList->ItemAt(i))->Text());
	window->Unlock();
	return items;
}

} // namespace testing_support
