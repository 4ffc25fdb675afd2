// The "Gogo options" tab: the encoder options of a run and the words they
// give on the encoder's command line.
#pragma once

#include <Button.h>
#include <CheckBox.h>
#include <FilePanel.h>
#include <Menu.h>
#include <MenuField.h>
#include <TextControl.h>
#include <View.h>

#include <memory>
#include <string>
#include <vector>

class EncoderView : public BView {
public:
	explicit EncoderView(BRect frame);

	void MessageReceived(BMessage* message) override;

	// The options that go before the input file, as one text: the chosen
	// options separated by single spaces, "" for all defaults.
	void OptionsBefore(std::string& options);
	// The options that go after the input file; always empty for now.
	void OptionsAfter(std::string& options);
	// The before-options as the encoder's arguments: the output directory is
	// one word whatever it holds; the extra parameters are split like the
	// rest of the options text.
	std::vector<std::string> OptionWordsBefore();

	BMenu* bitRateMenu = nullptr;
	BMenuField* bitRateField = nullptr;
	int32 bitRates[14];
	BMenu* outputModeMenu = nullptr;
	BMenuField* outputModeField = nullptr;
	BButton* browseButton = nullptr;
	BTextControl* outputDirText = nullptr;
	std::unique_ptr<BFilePanel> outputDirPanel;
	BCheckBox* disablePsycho = nullptr;
	BCheckBox* deleteWave = nullptr;
	BTextControl* extraParam = nullptr;

private:
	// The options before the output directory ("-b 192 -m j "), each one
	// followed by its separator.
	std::string LeadingOptions();
	// The output directory as the user gave it; "" when none.
	std::string OutputDirectory() const;
	std::string ExtraParameters() const;
};
