// The "Files" tab: the file list in its scroll view, four buttons and the
// "Add files" panel.
#pragma once

#include <Button.h>
#include <FilePanel.h>
#include <ScrollView.h>
#include <View.h>

#include <memory>

class FilesList;
class MainWindow;

class FilesView : public BView {
public:
	FilesView(BRect frame, BButton* encodeButton, MainWindow* window);

	BButton* addButton = nullptr;
	BButton* removeButton = nullptr;
	BButton* moveUpButton = nullptr;
	BButton* moveDownButton = nullptr;
	BScrollView* scrollView = nullptr;
	FilesList* filesList = nullptr;
	std::unique_ptr<BFilePanel> addPanel;
};
