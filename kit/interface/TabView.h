// BTabView and BTab: pages with a row of tabs; one page shows at a time.
#pragma once

#include <View.h>

#include <memory>
#include <string>
#include <vector>

class BTabView;

class BTab {
public:
	// A tab without a view of its own takes its label from the page view's name.
	explicit BTab(BView* view = nullptr);
	virtual ~BTab();

	const char* Label() const;
	void SetLabel(const char* label);
	BView* View() const { return fView; }
	bool IsSelected() const;

private:
	friend class BTabView;
	BView* fView = nullptr; // belongs to the tab view (as its child)
	std::string fLabel;
	bool fHasLabel = false;
	BTabView* fTabView = nullptr;
};


class BTabView : public BView {
public:
	BTabView(BRect frame, const char* name, button_width width = B_WIDTH_AS_USUAL,
		uint32 resizingMode = B_FOLLOW_ALL, uint32 flags = B_FULL_UPDATE_ON_RESIZE | B_WILL_DRAW
			| B_NAVIGABLE_JUMP | B_FRAME_EVENTS | B_NAVIGABLE);
	~BTabView() override;

	// The page and the tab belong to the tab view. Without a tab, one is made.
	virtual void AddTab(BView* target, BTab* tab = nullptr);
	// A page taken away leaves its tab without a view (the label stays).
	bool RemoveChild(BView* child) override;
	int32 CountTabs() const { return int32(fTabs.size()); }
	BTab* TabAt(int32 index) const;
	BView* ViewForTab(int32 index) const;
	BView* ContainerView() const { return fContainer; }
	virtual void Select(int32 index);
	int32 Selection() const { return fSelection; }
	float TabHeight() const;
	void SetTabWidth(button_width width);
	button_width TabWidth() const { return fTabWidth; }

	BPrivate::ViewKind Kind() const override { return BPrivate::ViewKind::TabView; }
	void FillState(BPrivate::ViewState& state) const override;
	bool HandleInput(BMessage* message) override;

private:
	friend class BTab;
	std::vector<std::unique_ptr<BTab>> fTabs;
	// The pages live in a view below the row of tabs, so that a page frame
	// given in the tab view's terms starts under the tabs.
	BView* fContainer = nullptr;
	int32 fSelection = 0;
	button_width fTabWidth;
};
