// The list of input files, in encoding order, with its buttons kept in step.
#pragma once

#include <Button.h>
#include <FilePanel.h>
#include <ListView.h>

#include <memory>

class MainWindow;

class FilesList : public BListView {
public:
	FilesList(BRect frame, MainWindow* window);
	~FilesList() override; // the list owns its items

	void MessageReceived(BMessage* message) override;
	bool AddItem(BListItem* item) override;
	bool AddItem(BListItem* item, int32 index) override;
	void SelectionChanged() override;

	void AddFile(const char* path);
	void RemoveFiles();
	void MoveUp();
	void MoveDown();
	void Clear();
	int32 CountSelected();

	void Save(const char* path);
	void Open(const char* path);
	void ShowSave();
	void ShowOpen();

	std::unique_ptr<BFilePanel> savePanel;
	std::unique_ptr<BFilePanel> openPanel;
	MainWindow* mainWindow;
	BButton* encodeButton = nullptr;
	BButton* removeButton = nullptr;
	BButton* moveUpButton = nullptr;
	BButton* moveDownButton = nullptr;
};
