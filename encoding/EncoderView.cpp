#include "EncoderView.h"

#include "Commands.h"

#include "TamselLaunch.h"

#include <Autolock.h>
#include <Path.h>
#include <Window.h>

#include <algorithm>
#include <iterator>

namespace {

constexpr const char* kEncoderWhat = "encoder_what";
constexpr uint32 kControlFlags = B_WILL_DRAW | B_NAVIGABLE;

// The bit rate and mode menus start with "Default" and a separator; the
// real choices follow.
constexpr int32 kFirstChoice = 2;

BMenu* MakeChoiceMenu(const char* title)
{
	auto* menu = new BMenu(title);
	menu->AddItem(new BMenuItem("Default", nullptr));
	menu->AddSeparatorItem();
	return menu;
}

void FinishChoiceMenu(BMenu* menu)
{
	menu->SetRadioMode(true);
	menu->SetTriggersEnabled(false);
	menu->SetLabelFromMarked(true);
	menu->ItemAt(0)->SetMarked(true);
}

BMessage* EncoderMessage(uint32 encoderWhat)
{
	auto* message = new BMessage(kMsgEncoderOption);
	message->AddInt32(kEncoderWhat, int32(encoderWhat));
	return message;
}

} // namespace

EncoderView::EncoderView(BRect frame)
	:
	BView(frame, "Gogo options", B_FOLLOW_NONE, 0),
	bitRates{32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}
{
	SetViewColor(ui_color(B_PANEL_BACKGROUND_COLOR));
	const float width = Bounds().right;

	bitRateMenu = MakeChoiceMenu("BitRate");
	for (int32 rate : bitRates)
		bitRateMenu->AddItem(new BMenuItem((std::to_string(rate) + " kbps").c_str(), nullptr));
	FinishChoiceMenu(bitRateMenu);

	outputModeMenu = MakeChoiceMenu("OutputMode");
	outputModeMenu->AddItem(new BMenuItem("Monoaural", nullptr));
	outputModeMenu->AddItem(new BMenuItem("Stereo", nullptr));
	outputModeMenu->AddItem(new BMenuItem("Joint stereo", nullptr));
	FinishChoiceMenu(outputModeMenu);

	bitRateField = new BMenuField(BRect(0, 0, width, 20), "BitRateField", "Bit rate:",
		bitRateMenu, B_FOLLOW_LEFT | B_FOLLOW_TOP, kControlFlags);
	bitRateField->ResizeToPreferred();
	bitRateField->SetDivider(117);
	AddChild(bitRateField);

	outputModeField = new BMenuField(BRect(0, 24, width, 44), "OutputModeField", "Output mode:",
		outputModeMenu, B_FOLLOW_LEFT | B_FOLLOW_TOP, kControlFlags);
	outputModeField->ResizeToPreferred();
	outputModeField->SetDivider(117);
	AddChild(outputModeField);

	float top = outputModeField->Frame().bottom + 6;
	disablePsycho = new BCheckBox(BRect(0, top, width, top + 20), "DisablePsycho",
		"Disable psycho-acoustic", nullptr, B_FOLLOW_LEFT | B_FOLLOW_TOP, kControlFlags);
	disablePsycho->ResizeToPreferred();
	AddChild(disablePsycho);

	top = disablePsycho->Frame().bottom + 6;
	deleteWave = new BCheckBox(BRect(0, top, width, top + 20), "DeleteWave",
		"Delete wave file after encoding", nullptr, B_FOLLOW_LEFT | B_FOLLOW_TOP, kControlFlags);
	deleteWave->ResizeToPreferred();
	AddChild(deleteWave);

	const float belowDelete = deleteWave->Frame().bottom;
	top = belowDelete + 4;
	browseButton = new BButton(BRect(width - 74, top, width, top + 20), "OutputDirButton",
		"Browse...", EncoderMessage(kMsgEncoderBrowse), B_FOLLOW_RIGHT | B_FOLLOW_TOP, kControlFlags);
	float preferredWidth = 0;
	float preferredHeight = 0;
	browseButton->GetPreferredSize(&preferredWidth, &preferredHeight);
	// Its slot ends at the view's edge; a style with wider buttons than that
	// would push it out of the tab, where it is cut off.
	browseButton->ResizeTo(std::min(preferredWidth, width - browseButton->Frame().left), 20);
	AddChild(browseButton);

	top = belowDelete + 5;
	outputDirText = new BTextControl(BRect(0, top, width - 79, top + 20), "OutputDirText",
		"Output directory:", "", nullptr, B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP, kControlFlags);
	outputDirText->ResizeToPreferred();
	outputDirText->SetDivider(115);
	outputDirText->TextView()->ResizeTo(width - 203, outputDirText->TextView()->Bounds().Height());
	outputDirText->TextView()->SetMaxBytes(1024);
	AddChild(outputDirText);

	top = outputDirText->Frame().bottom + 5;
	extraParam = new BTextControl(BRect(0, top, width, top + 20), "ExtraParam",
		"Extra parameters:", "", nullptr, B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP, kControlFlags);
	extraParam->ResizeToPreferred();
	extraParam->SetDivider(115);
	extraParam->TextView()->ResizeTo(width - 124, extraParam->TextView()->Bounds().Height());
	extraParam->TextView()->SetMaxBytes(128);
	AddChild(extraParam);

	BMessage panelMessage(kMsgEncoderOption);
	panelMessage.AddInt32(kEncoderWhat, int32(kMsgEncoderDirPanel));
	outputDirPanel = std::make_unique<BFilePanel>(B_OPEN_PANEL, nullptr, nullptr,
		B_DIRECTORY_NODE, false, &panelMessage, nullptr, true, true);
	outputDirPanel->Window()->SetTitle("Select output directory");
	outputDirPanel->SetButtonLabel(B_DEFAULT_BUTTON, "Select");
	outputDirPanel->SetButtonLabel(B_CANCEL_BUTTON, "Cancel");
}

void EncoderView::MessageReceived(BMessage* message)
{
	int32 what = 0;
	if (message->FindInt32(kEncoderWhat, &what) != B_OK)
		return;

	switch (uint32(what)) {
		case kMsgEncoderBrowse:
			outputDirPanel->Show();
			break;
		case kMsgEncoderDirPanel:
		{
			entry_ref ref;
			if (message->FindRef("refs", &ref) != B_OK)
				break;
			// The chosen directory may be a link; the encoder wants the place
			// the files really go.
			BEntry entry(&ref, true);
			BPath path;
			if (entry.GetPath(&path) != B_OK || path.Path() == nullptr)
				break;
			if (BAutolock lock(Window()); lock.IsLocked())
				outputDirText->SetText(path.Path());
			break;
		}
		default:
			break;
	}
}

std::string EncoderView::LeadingOptions()
{
	std::string options;
	const int32 rateIndex = bitRateMenu->FindMarkedIndex();
	if (rateIndex >= kFirstChoice && rateIndex < kFirstChoice + int32(std::size(bitRates)))
		options += "-b " + std::to_string(bitRates[rateIndex - kFirstChoice]) + " ";

	const int32 modeIndex = outputModeMenu->FindMarkedIndex();
	if (modeIndex >= kFirstChoice) {
		const char mode = modeIndex == 2 ? 'm' : modeIndex == 3 ? 's' : 'j';
		options += std::string("-m ") + mode + " ";
	}
	if (disablePsycho->Value() == B_CONTROL_ON)
		options += "-nopsy ";
	if (deleteWave->Value() == B_CONTROL_ON)
		options += "-delete ";
	return options;
}

std::string EncoderView::OutputDirectory() const
{
	return outputDirText->Text();
}

std::string EncoderView::ExtraParameters() const
{
	return extraParam->Text();
}

void EncoderView::OptionsBefore(std::string& options)
{
	options = LeadingOptions();
	const std::string directory = OutputDirectory();
	if (!directory.empty()) {
		if (directory.find(' ') != std::string::npos)
			options += "-o \"" + directory + "\" ";
		else
			options += "-o " + directory + " ";
	}
	const std::string extra = ExtraParameters();
	if (!extra.empty())
		options += extra + " ";
	if (!options.empty())
		options.pop_back();
}

void EncoderView::OptionsAfter(std::string& options)
{
	options.clear();
}

std::vector<std::string> EncoderView::OptionWordsBefore()
{
	std::string leading = LeadingOptions();
	if (!leading.empty())
		leading.pop_back();
	std::vector<std::string> words = SplitArguments(leading);

	// Quoting the directory in the options text cannot carry every name (a
	// double quote in it would end the group), so it goes over as one word.
	const std::string directory = OutputDirectory();
	if (!directory.empty()) {
		words.push_back("-o");
		words.push_back(directory);
	}
	for (std::string& word : SplitArguments(ExtraParameters()))
		words.push_back(std::move(word));
	return words;
}
