// The "Program options" tab: the encoder's location, three switches, and
// installing or deleting the list file type.
#pragma once

#include <Button.h>
#include <CheckBox.h>
#include <FilePanel.h>
#include <TextControl.h>
#include <View.h>

#include <memory>

class OptionsView : public BView {
public:
	explicit OptionsView(BRect frame);

	BButton* browseButton = nullptr;
	BTextControl* locationField = nullptr;
	std::unique_ptr<BFilePanel> locatePanel;
	BCheckBox* closeOnAddBox = nullptr;
	BCheckBox* clearOnOpenBox = nullptr;
	BCheckBox* selfInstallBox = nullptr;
};
