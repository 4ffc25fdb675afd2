// The tab view of the main window: "Files", "Gogo options", "Program options".
#pragma once

#include <Button.h>
// The kit's tab view; this header has the same name.
#include <interface/TabView.h>

class EncoderView;
class FilesView;
class MainWindow;
class OptionsView;

class TabView : public BTabView {
public:
	TabView(BRect frame, BButton* encodeButton, MainWindow* window);

	FilesView* filesView = nullptr;
	EncoderView* encoderView = nullptr;
	OptionsView* optionsView = nullptr;
};
